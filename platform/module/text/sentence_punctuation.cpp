#include "platform/module/text/sentence_punctuation.h"

#include <string_view>

namespace ondevice::platform {
namespace {

using enum WordClass;

// Subjects by the verbs they agree with; "there" goes with every verb ("is there", "are there").
bool singularSubject(const Word& word) {
  return word.isAny(thirdPersonSingular | article | possessive) || word.text == "there";
}
bool pluralSubject(const Word& word) {
  return word.isAny(pluralPronoun | possessive) || word.text == "the" || word.text == "there";
}
bool personalSubject(const Word& word) {  // "i", "you", "we", "they"
  return word.is(subjectPronoun) && !word.is(thirdPersonSingular);
}
bool anySubject(const Word& word) {
  return word.isAny(subjectPronoun | thirdPersonSingular | pluralPronoun | article | possessive) ||
         word.text == "there";
}

// Whether the auxiliary `verb` before `subject` opens a question. Objects ("do it", "have it")
// and conditional inversions ("had he", "were it", "should you") open statements too.
bool invertedAuxiliary(const Word& verb, const Word& subject) {
  if (verb.is(auxiliaryThirdPersonSingular)) return singularSubject(subject);
  if (verb.is(auxiliaryPlural)) {
    // "were the truth known": before a noun, "were" is a conditional inversion.
    if (verb.is(conditionalInversion)) return subject.is(pluralPronoun) || subject.text == "there";
    return pluralSubject(subject);
  }
  if (verb.is(auxiliaryFirstPerson)) return subject.text == "i";
  // "may you be happy", "may the best man win": a wish.
  if (verb.text == "may") return personalSubject(subject) && subject.text != "you";
  if (verb.is(auxiliaryNotThirdPerson)) return personalSubject(subject);
  if (verb.is(auxiliaryAnyPerson)) {
    // "should you need help", "should the need arise": a conditional inversion.
    if (verb.is(conditionalInversion)) {
      return (subject.is(subjectPronoun) && subject.text != "you") || subject.text == "it";
    }
    return anySubject(subject);
  }
  return false;
}

// Whether a wh-word `first` before `second` (if any) asks a question: before an auxiliary, in a
// contraction ("what's", "where's", "how'd") or before the words it asks with ("how many").
bool whQuestion(const Word& first, const Word* second) {
  if (first.text.find('\'') != std::string::npos && first.stemIs(whWord)) return true;
  if (!first.is(whWord) || second == nullptr) return false;
  if (second->isAny(kAuxiliary)) return true;
  // "How many?", "What if we tried?", "What kind of ship is that?", "Which one?", "Why not?"
  if (first.text == "how") return second->is(afterHow);
  if (first.text == "what") return second->is(afterWhat);
  if (first.text == "which") return second->is(afterWhich);
  return first.text == "why" && second->is(afterWhy);
}

// "isn't it", "don't you", "wasn't there".
bool questionTag(const Word& verb, const Word& subject) {
  return verb.isAny(kAuxiliary) && verb.text.ends_with("n't") &&
         (subject.is(subjectPronoun) || subject.text == "it" || subject.text == "there");
}

// Whether `rest`, after a pause, is a comment clause closing the sentence: a subject, a verb of
// saying or believing and at most an object or an address ("I assure you", "I dare say", "I
// believe, sir", "I'm sure").
bool commentCloses(std::span<const Word> rest) {
  if (rest.size() < 2 || rest.size() > 4 || !rest[0].stemIs(subjectPronoun)) return false;
  if (rest[0].text == "i'm" || rest[1].is(auxiliaryFirstPerson)) {  // "I'm sure", "I am afraid"
    const size_t complement = rest[0].text == "i'm" ? 1 : 2;
    return complement + 1 == rest.size() && rest[complement].is(commentComplement);
  }
  const size_t verb = rest[1].is(commentModal) ? 2 : 1;
  if (verb >= rest.size() || !rest[verb].is(commentVerb)) return false;
  for (const Word& word : rest.subspan(verb + 1)) {
    if (!word.isAny(commentObject | address)) return false;
  }
  return true;
}

// Whether `words` open with "it", "this", "these" or "there" as a subject, which a verb after it
// shows ("it is", "there was", "this must"), or with one of their contractions ("it's",
// "let's"): "look at it | it keeps" is two sentences, "we went | there today" one.
bool opensWithSubject(std::span<const Word> words) {
  if (words[0].is(subjectContraction)) return true;
  return words.size() >= 2 && words[0].is(subjectBeforeAVerb) &&
         words[1].isAny(kAuxiliary | verbAfterASubject);
}

// Whether a clause cannot end with `word`: an article, a coordinator, a possessive before its
// noun, a word that takes a clause, and the prepositions and subordinators a clause goes on after.
bool clauseGoesOnAfter(const Word& word) {
  return word.isAny(article | coordinator | takesAClause | clauseGoesOn) ||
         (word.is(possessive) && !word.isAny(objectPronoun | possessivePronoun));
}

// Whether `word`, first in a clause, makes it a fronted phrase or an opening that leads into the
// main clause: a preposition ("in such cases, we"), an adverb ("then, you"), an answer or
// interjection ("well, I"), a wh-word or "that" ("that when there are twenty, I").
bool leadsIntoMainClause(const Word& word) {
  return word.isAny(preposition | whWord | leadingWord | parentheticalAdverb | modalAdverb |
                    interjection);
}

}  // namespace

bool clauseFollows(const Word* before, const Word& word, std::span<const Word> rest) {
  if (rest.empty() || !(rest[0].stemIs(subjectPronoun) || opensWithSubject(rest))) return false;
  if (clauseGoesOnAfter(word)) return true;
  // "the thing is | we", but "as it is | we" and "as I was | I" end a clause.
  return (word.text == "is" || word.text == "was") && before != nullptr && !anySubject(*before);
}

bool opensMainClause(std::span<const Word> rest) {
  return !rest.empty() && !commentCloses(rest) &&
         (rest[0].stemIs(subjectPronoun) || opensWithSubject(rest));
}

bool mainClausesMeet(std::span<const Word> clauseOpening, size_t clauseWords) {
  // Past the words that join it to the clause before: "and if I", "but when we", "so then".
  size_t first = 0;
  while (first < clauseOpening.size() &&
         (clauseOpening[first].is(coordinator) || clauseOpening[first].text == "so")) {
    ++first;
  }
  if (clauseWords < first + 3 || first + 1 >= clauseOpening.size()) return false;
  for (const Word& word : clauseOpening) {
    if (word.is(subordinator)) return false;
  }
  const Word& opening = clauseOpening[first];
  // A wh-word before an auxiliary asks a question, a main clause ("how can you be so
  // tiresome"); before a subject it opens a clause that leads ("how he did it, I").
  const bool asks = whQuestion(opening, &clauseOpening[first + 1]);
  if (leadsIntoMainClause(opening) && !asks) return false;
  // "had he married ..., he": a conditional inversion leads like "if".
  return !opening.is(conditionalInversion);
}

bool endsSentenceAtEnd(const SpokenWord& last, UtteranceEnd end, const SentenceSettings& settings) {
  if (end == UtteranceEnd::endOfStream) return true;
  if (!last.odds) return end != UtteranceEnd::cut;  // no language model: the pause alone
  switch (end) {
    case UtteranceEnd::pause:
      return last.odds->end >= settings.endAfterPause;
    case UtteranceEnd::pauseWhenLong:
      return last.odds->end >= settings.endAfterShortPause;
    case UtteranceEnd::cut:
      return last.odds->end >= settings.endAtCut;
    case UtteranceEnd::endOfStream:
      break;
  }
  return true;
}

bool endsSentenceAfter(const SpokenWord& word, const SentenceSettings& settings) {
  if (word.pauseAfterMs < settings.innerPauseMs || !word.odds || !word.odds->nextGoesOn ||
      !word.odds->nextOpens) {
    return false;
  }
  const double breakOverGoingOn = word.odds->end + *word.odds->nextOpens - *word.odds->nextGoesOn;
  const double margin = settings.innerMargin - settings.pauseWeight * word.pauseAfterMs / 1000.0;
  return breakOverGoingOn > margin;
}

bool isQuestion(std::span<const Word> opening, std::span<const Word> closing) {
  if (closing.size() == 2 && questionTag(closing[0], closing[1])) return true;
  // Past a conjunction or an interjection before the question: "and is it", "oh do you".
  size_t first = 0;
  while (first < opening.size() && opening[first].isAny(clauseConjunction | interjectionOrPhrase)) {
    ++first;
  }
  if (first + 1 >= opening.size()) {
    return first < opening.size() && whQuestion(opening[first], nullptr);
  }
  return invertedAuxiliary(opening[first], opening[first + 1]) ||
         whQuestion(opening[first], &opening[first + 1]);
}

bool clauseAsks(std::span<const Word> clauseOpening) {
  if (clauseOpening.empty() || clauseOpening[0].is(relativePronoun) ||
      clauseOpening[0].text == "when" || clauseOpening[0].text == "where") {
    return false;
  }
  return isQuestion(clauseOpening, {});
}

}  // namespace ondevice::platform
