#pragma once
// Full stops and question marks: where sentences end and which ones are questions, judged from
// the recognised words (by their classes, english_words.txt), the pauses between them and the
// recogniser's language model.
//
//   endsSentenceAtEnd(segment.words.back(), segment.end);   // at the end of an utterance
//   endsSentenceAfter(segment.words[3]);                   // after a word inside one
//   isQuestion(opening, closing);                           // "do you know": true

#include <span>

#include "platform/module/text/spoken_segment.h"
#include "platform/module/text/word.h"

namespace ondevice::platform {

// The thresholds of the judgement, in log10 probabilities of the language model.
struct SentenceSettings {
  // At the end of an utterance, a sentence ends when "</s>" after its last words is at least
  // this likely, by why the utterance ended. After a pause of 0.4 s it ends unless the words
  // are ones a sentence seldom ends on: the model reads -1.7 or less after an article, a
  // preposition or a conjunction ("in" -1.71, "and" -1.76, "for" -2.01, "the" -2.30) and -0.5
  // to -1.5 after most other words ("man" -0.71, "selfish" -0.77, "those" -1.51). On
  // bench/readable_text's tuning half every threshold of -1.7 or less writes the same text and
  // higher ones lose full stops; a shorter pause and a cut without one need likelier ends.
  double endAfterPause = -1.7;
  double endAfterShortPause = -1.3;
  double endAtCut = -0.8;
  // Inside an utterance, after a pause at least this long (ms), a sentence ends when the model
  // finds "</s>" and the next word opening a sentence more likely than that word going on,
  // with this margin (a longer pause lowers the margin by pauseWeight per second). The decoder
  // gives the odds after words followed by a pause of 150 ms or more. Chosen on the tuning
  // halves of bench/readable_text (Austen's dialogue and the Fish Fillets NG dialogue), where
  // 150 ms and no margin wrote the fewest words wrong on both; shorter pauses gain ends on the
  // game's short sentences and lose more at Austen's commas.
  int innerPauseMs = 150;
  double innerMargin = 0.0;
  double pauseWeight = 1.0;
};

// Whether a sentence ends with the utterance's last word (a title's aside: the name follows).
// The end of the audio always ends one. Without the language model's odds, a pause ends one and
// a cut does not.
bool endsSentenceAtEnd(const SpokenWord& last, UtteranceEnd end,
                       const SentenceSettings& settings = {});

// Whether a sentence ends after a word that another word of the same utterance follows (a
// title's aside).
bool endsSentenceAfter(const SpokenWord& word, const SentenceSettings& settings = {});

// Whether the words make a sentence certainly a question: it opens with an auxiliary before
// its subject ("is it", "do you", "can we"), with a wh-word before an auxiliary ("where is",
// "what's", "how many"), or ends in a question tag ("isn't it"). `opening` holds the
// sentence's first words (at least three where it has them), `closing` its last two.
bool isQuestion(std::span<const Word> opening, std::span<const Word> closing);

// Whether the clause that follows a sentence's last comma asks a question, as an opening does:
// "My dear, have you heard", "If it rains, can we stay". A relative clause ("..., who was
// tired", "..., which is") asks none.
bool clauseAsks(std::span<const Word> clauseOpening);

// Whether `rest`, words after a pause, open a main clause: a subject pronoun, or "it", "this",
// "these" or "there" before a verb ("it is", "there was"), or a contraction of one ("it's",
// "let's"); not a comment clause that closes the sentence ("It is wrong, I assure you").
bool opensMainClause(std::span<const Word> rest);

// Whether a pause before a main clause (opensMainClause) ends the sentence rather than taking
// a comma. Two main clauses are two sentences in written English ("You take delight in vexing
// me. You have no compassion"), but a clause that a subordinator, a conditional inversion or a
// fronted phrase opened leads into its main clause with a comma ("If I were rich, I would", "In
// such cases, we"), and so does a short opening ("Then, you"). `clauseOpening` holds the first
// words of the clause before the pause (the sentence's, or those after its last comma),
// `clauseWords` how many it has.
bool mainClausesMeet(std::span<const Word> clauseOpening, size_t clauseWords);

// Whether `rest`, the words after `word` (which `before` precedes, if any), are a clause that
// `word` leads into rather than one after a clause's end: `word` is an article, a preposition,
// a conjunction, a possessive, a word that takes a clause after it, or "is" or "was" after a
// noun ("the thing is"), and `rest` opens with a subject ("I think | you are right", "he told
// me that | it was late", "the truth is | we lost"). No comma and no sentence end goes between.
bool clauseFollows(const Word* before, const Word& word, std::span<const Word> rest);

}  // namespace ondevice::platform
