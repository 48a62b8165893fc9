#include "platform/module/text/readable_text.h"

#include "platform/module/text/truecasing.h"

namespace ondevice::platform {
namespace {

using enum WordClass;

// Enough of a sentence's opening to see a question past a conjunction and an interjection.
constexpr size_t kOpeningWords = 4;

void keepOpening(std::vector<Word>& opening, const Word& word) {
  if (opening.size() < kOpeningWords) opening.push_back(word);
}

}  // namespace

std::string ReadableText::written(const Word& word, bool titleBeforeName) {
  std::string form = word.written;
  if (!sentenceOpen_ || nameNext_ || titleBeforeName) form = startOfSentence(std::move(form));
  if (!onlyFormChanged(form, word)) form = word.text;  // never another word
  nameNext_ = word.is(title);
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
  if (clauseNow_.words > 0 && word.is(clauseConjunction)) clauseNow_ = {};
  ++clauseNow_.words;
  keepOpening(clauseNow_.opening, word);
  keepOpening(opening_, word);
  if (afterComma_) keepOpening(clause_, word);
  if (closing_.size() == 2) closing_.erase(closing_.begin());
  closing_.push_back(word);
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

bool ReadableText::pauseEndsSentence(const WordJudgement& at) const {
  if (!at.pauseAfter || !at.restOpensMainClause) return false;
  // An address set off after a clause closes it ("You mistake me, my dear. I have"); one that
  // opens the sentence leads into it ("But, my dear, you must").
  const Clause& clause = shortAfterComma() && at.endsAsideOrAddress ? clauseBefore_ : clauseNow_;
  return mainClausesMeet(clause.opening, clause.words);
}

bool ReadableText::commaAfter(const Word& word, const WordJudgement& at) const {
  if (word.is(title) || at.titleBeforeName) return false;  // the name follows
  // An address set off by a comma (", Eliza", ", Mr. Darcy") or opening the sentence or the
  // phrase after a comma ("Lizzy", "My dear Mr. Bennet", ", my dear Charles").
  const Word& first = clauseNow_.opening.front();
  const bool setOff = shortAfterComma() || (clauseNow_.words <= 4 &&
                                            (first.text == "my" || first.is(title) || first.name));
  // At a pause: after an address or aside (a name only where set off), before a word that opens
  // a clause or a phrase.
  if (at.pauseAfter && ((at.commaAfterAside && (setOff || !at.named)) || at.nextOpensPhrase)) {
    return true;
  }
  if (at.commaBeforeConjunction) return true;
  if (opening_.size() == 1 && at.commaAfterOpening) return true;
  // An address closing the sentence within this segment: "..., my dear."
  return at.restClosesWithAddress;
}

std::string ReadableText::write(const SpokenSegment& segment) {
  const SegmentAnalysis analysis = analyseSegment(segment, settings_, commas_);
  std::string text;
  for (size_t i = 0; i < analysis.words.size(); ++i) {
    const Word& word = analysis.words[i];
    const WordJudgement& at = analysis.at[i];
    if (!text.empty()) text += ' ';
    text += written(word, at.titleBeforeName);
    if (at.sentenceEnds) {
      endSentence(text);
      continue;
    }
    // A comma at the end of a segment waits for the next segment's first word; none goes
    // before the clause a word leads into ("I think | you are right").
    if (i + 1 == analysis.words.size() || at.leadsIntoClause) continue;
    if (pauseEndsSentence(at)) {
      endSentence(text);
    } else if (commaAfter(word, at)) {
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
