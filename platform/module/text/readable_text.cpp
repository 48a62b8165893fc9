#include "platform/module/text/readable_text.h"

#include "platform/module/text/word_sets.h"
#include "platform/module/text/written_word.h"

namespace ondevice::platform {
namespace {

// Enough of a sentence's opening to see a question past a conjunction and an interjection.
constexpr size_t kOpeningWords = 4;

// Whether `written` is `spoken` with nothing changed but the case of letters and a title's dot.
bool onlyFormChanged(const std::string& written, const std::string& spoken) {
  const std::string lower = loweredAscii(written);
  if (lower == loweredAscii(spoken)) return true;
  return isTitle(spoken) && lower == loweredAscii(spoken) + ".";
}

// The word before word `i` of the segment, empty for its first.
std::string_view wordBefore(const std::vector<SpokenWord>& words, size_t i) {
  return i > 0 ? std::string_view(words[i - 1].text) : "";
}

// A title without a dot before a name in the same segment: "Colonel Forster".
bool titleBeforeName(const std::vector<SpokenWord>& words, size_t i) {
  return i + 1 < words.size() &&
         isTitleBeforeName(wordBefore(words, i), loweredAscii(words[i].text), words[i + 1].text);
}

// The words after word `i` up to the end of the sentence or of the segment.
std::vector<std::string> restOfSentence(const std::vector<SpokenWord>& words, size_t i,
                                        const std::vector<bool>& ends) {
  std::vector<std::string> rest;
  for (size_t k = i + 1; k < words.size(); ++k) {
    rest.push_back(words[k].text);
    if (ends[k]) break;
  }
  return rest;
}

}  // namespace

std::string ReadableText::written(const std::vector<SpokenWord>& words, size_t i) {
  const SpokenWord& word = words[i];
  std::string form = writtenWord(word.text);
  if (!sentenceOpen_ || nameNext_ || titleBeforeName(words, i)) {
    form = startOfSentence(std::move(form));
  }
  if (!onlyFormChanged(form, word.text)) form = word.text;  // never another word
  nameNext_ = isTitle(word.text);
  if (!sentenceOpen_) {
    opening_.clear();
    closing_.clear();
    clause_.clear();
    afterComma_ = false;
    clauseNow_ = {};
    clauseBefore_ = {};
    sentenceOpen_ = true;
  }
  // "... commerce but with respect to it, I": a conjunction opens a clause of its own.
  if (clauseNow_.words > 0 && among(loweredAscii(word.text), {"and", "but"})) clauseNow_ = {};
  ++clauseNow_.words;
  if (clauseNow_.opening.size() < kOpeningWords) clauseNow_.opening.push_back(word.text);
  if (opening_.size() < kOpeningWords) opening_.push_back(word.text);
  if (afterComma_ && clause_.size() < kOpeningWords) clause_.push_back(word.text);
  if (closing_.size() == 2) closing_.erase(closing_.begin());
  closing_.push_back(word.text);
  return form;
}

void ReadableText::endSentence(std::string& text) {
  if (isQuestion(opening_, closing_) || clauseAsks(clause_)) {
    text += '?';
  } else if (text.back() != '.') {  // "u.s." is not followed by a second full stop
    text += '.';
  }
  sentenceOpen_ = false;
}

bool ReadableText::commaAfter(const std::vector<SpokenWord>& words, size_t i,
                              std::span<const std::string> rest, bool restEndsSentence) const {
  if (isTitle(words[i].text) || titleBeforeName(words, i)) return false;  // the name follows
  const std::string_view before = wordBefore(words, i);
  // An address set off by a comma (", Eliza", ", Mr. Darcy") or opening the sentence or the
  // phrase after a comma ("Lizzy", "My dear Mr. Bennet", ", my dear Charles").
  const std::string first = loweredAscii(clauseNow_.opening.front());
  const bool setOff = shortAfterComma() ||
                      (clauseNow_.words <= 4 && (first == "my" || isTitle(first) || isName(first)));
  if (commaAtPause(before, words[i], words[i + 1].text, setOff, commas_)) return true;
  if (i + 2 < words.size() &&
      commaBeforeConjunction(words[i].text, words[i + 1].text, words[i + 2].text)) {
    return true;
  }
  if (opening_.size() == 1) {
    const std::string opening[] = {words[i].text, words[i + 1].text};
    if (commaAfterOpening(opening)) return true;
  }
  // An address closing the sentence within this segment: "..., my dear."
  return restEndsSentence && vocativeCloses(rest);
}

bool ReadableText::pauseEndsSentence(const std::vector<SpokenWord>& words, size_t i,
                                     std::span<const std::string> rest) const {
  if (words[i].pauseAfterMs < commas_.pauseMs || isTitle(words[i].text)) return false;
  // An address set off after a clause closes it ("You mistake me, my dear. I have"); one that
  // opens the sentence leads into it ("But, my dear, you must").
  const bool setOffAddress =
      shortAfterComma() && endsAsideOrAddress(wordBefore(words, i), words[i].text);
  const Clause& clause = setOffAddress ? clauseBefore_ : clauseNow_;
  return mainClausesMeet(clause.opening, clause.words, rest);
}

std::string ReadableText::write(const SpokenSegment& segment) {
  const auto& words = segment.words;
  std::vector<bool> ends(words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    ends[i] = i + 1 == words.size() ? endsSentenceAtEnd(words[i], segment.end, settings_)
                                    : endsSentenceAfter(words[i], settings_);
  }
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    if (!text.empty()) text += ' ';
    text += written(words, i);
    if (ends[i]) {
      endSentence(text);
      continue;
    }
    if (i + 1 == words.size()) continue;  // a comma waits for the next segment's first word
    const std::vector<std::string> rest = restOfSentence(words, i, ends);
    // "I think | you are right": the word leads into the clause after it.
    if (clauseFollows(wordBefore(words, i), words[i].text, rest)) continue;
    if (pauseEndsSentence(words, i, rest)) {
      endSentence(text);
    } else if (commaAfter(words, i, rest, ends[i + rest.size()])) {
      text += ',';
      clause_.clear();
      clauseBefore_ = std::move(clauseNow_);
      clauseNow_ = {};
      afterComma_ = true;
    }
  }
  return text;
}

}  // namespace ondevice::platform
