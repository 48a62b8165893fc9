#include "engine/platform/module/text/readable_text.h"

#include "engine/platform/module/text/word_sets.h"
#include "engine/platform/module/text/written_word.h"

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

// A title without a dot before a name in the same segment: "Colonel Forster".
bool titleBeforeName(const std::vector<SpokenWord>& words, size_t i) {
  return i + 1 < words.size() && isTitleBeforeName(i > 0 ? std::string_view(words[i - 1].text) : "",
                                                   loweredAscii(words[i].text), words[i + 1].text);
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
                              const std::vector<bool>& ends) const {
  if (isTitle(words[i].text) || titleBeforeName(words, i)) return false;  // the name follows
  const std::string_view before = i > 0 ? std::string_view(words[i - 1].text) : "";
  if (clauseFollows(before, words[i].text, restOfSentence(words, i, ends))) return false;
  // An address set off by a comma (", Eliza", ", Mr. Darcy") or opening the sentence or the
  // phrase after a comma ("Lizzy", "My dear Mr. Bennet", ", my dear Charles").
  const std::string first = loweredAscii(clauseNow_.opening.front());
  const bool setOff = (afterComma_ && clauseNow_.words <= 2) ||
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
  for (size_t end = i + 1; end < words.size(); ++end) {
    if (!ends[end]) continue;
    std::vector<std::string> rest;
    for (size_t k = i + 1; k <= end; ++k) rest.push_back(words[k].text);
    return vocativeCloses(rest);
  }
  return false;
}

bool ReadableText::pauseEndsSentence(const std::vector<SpokenWord>& words, size_t i,
                                     const std::vector<bool>& ends) const {
  if (words[i].pauseAfterMs < commas_.pauseMs || isTitle(words[i].text) ||
      titleBeforeName(words, i)) {
    return false;
  }
  const std::vector<std::string> rest = restOfSentence(words, i, ends);
  const std::string_view before = i > 0 ? std::string_view(words[i - 1].text) : "";
  if (clauseFollows(before, words[i].text, rest)) return false;
  // An address set off after a clause closes it ("You mistake me, my dear. I have"); one that
  // opens the sentence leads into it ("But, my dear, you must").
  const bool setOffAddress =
      afterComma_ && clauseNow_.words <= 2 && endsAsideOrAddress(before, words[i].text);
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
    } else if (i + 1 < words.size() && pauseEndsSentence(words, i, ends)) {
      endSentence(text);
    } else if (i + 1 < words.size() && commaAfter(words, i, ends)) {
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
