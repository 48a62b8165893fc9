#include "platform/module/text/comma_punctuation.h"

namespace ondevice::platform {
namespace {

using enum WordClass;

// A subject on its own, after which "no", "well" and "oh" are interjections ("no I", "well you",
// "oh it") and before "and" a subject of two ("he and I"): a pronoun, its contraction, "there".
bool isSubject(const Word& word) {
  return word.stemIsAny(subjectPronoun | thirdPersonSingular) || word.text == "there";
}

// An answer or interjection that never goes on a phrase: "yes", "ah", "indeed".
bool answer(const Word& word) { return word.is(interjection) && !word.is(interjectionOrPhrase); }

}  // namespace

bool opensPhrase(const Word& next, const CommaSettings& settings) {
  if (next.isAny(coordinator | subordinator | relativePronoun | address | title |
                 parentheticalAdverb | modalAdverb) &&
      !next.is(goesOnAPhrase)) {
    return true;
  }
  if (next.stemIs(subjectPronoun) || next.text == "my") return true;
  return settings.beforeNames && next.name;
}

bool endsAsideOrAddress(const Word* before, const Word& word) {
  if (word.isAny(address | parentheticalAdverb)) return true;
  if (before != nullptr && before->text == "my") return word.is(addressAfterMy);
  return word.name || (before != nullptr && before->is(title));
}

bool commaBeforeConjunction(const Word& word, const Word& conjunction, const Word& subject) {
  if (!conjunction.is(clauseConjunction) || word.is(title) || word.name || isSubject(word) ||
      word.is(objectPronoun)) {
    return false;
  }
  // A pronoun that is only a subject: "you" may be an object ("for me and you").
  return subject.stemIs(subjectPronoun) && !subject.stemIs(objectPronoun);
}

bool commaAfterOpening(const Word& first, const Word& second) {
  if (answer(first)) return true;
  // "no one", "well done", "oh dear", "oh well": the word goes on a phrase unless a subject, an
  // address, an answer or a conjunction follows ("No, I", "Well, sir", "Oh, yes", "Oh, and").
  return first.is(interjectionOrPhrase) &&
         (isSubject(second) || answer(second) || second.isAny(address | clauseConjunction) ||
          second.text == "my");
}

bool vocativeCloses(std::span<const Word> rest) {
  if (rest.size() == 1) return rest[0].is(address);
  return rest.size() == 2 && rest[0].text == "my" && rest[1].is(addressAfterMy);
}

}  // namespace ondevice::platform
