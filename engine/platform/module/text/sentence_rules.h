#pragma once
// Where sentences end and which ones are questions, judged from the recognised words, the
// pauses between them and the recogniser's language model.
//
//   endsSentenceAtEnd(segment.words.back(), segment.end);   // at the end of an utterance
//   endsSentenceAfter(segment.words[3]);                   // after a word inside one
//   isQuestion({"do", "you", "know"}, {"you", "know"});     // true

#include <span>
#include <string>

#include "engine/platform/module/text/spoken_segment.h"

namespace ondevice::platform {

// The thresholds of the judgement, in log10 probabilities of the language model. Measured on
// bench/readable_text's tuning half (see there).
struct SentenceSettings {
  // At the end of an utterance, a sentence ends when "</s>" after its last words is at least
  // this likely, by why the utterance ended.
  double endAfterPause = -1.6;
  double endAfterShortPause = -1.2;
  double endAtCut = -0.7;
  // Inside an utterance, after a pause at least this long (ms), a sentence ends when the model
  // finds "</s>" and the next word opening a sentence more likely than that word going on,
  // with this margin (a longer pause lowers the margin by pauseWeight per second).
  int innerPauseMs = 250;
  double innerMargin = 0.5;
  double pauseWeight = 1.0;
};

// Whether a sentence ends with the utterance's last word. The end of the audio always ends
// one; a title never does (the name follows). Without the language model's odds, a pause
// ends one and a cut does not.
bool endsSentenceAtEnd(const SpokenWord& last, SegmentEnd end,
                       const SentenceSettings& settings = {});

// Whether a sentence ends after a word that another word of the same utterance follows.
bool endsSentenceAfter(const SpokenWord& word, const SentenceSettings& settings = {});

// Whether the words make a sentence certainly a question: it opens with an auxiliary before
// its subject ("is it", "do you", "can we"), with a wh-word before an auxiliary ("where is",
// "what's", "how many"), or ends in a question tag ("isn't it"). `opening` holds the
// sentence's first words (at least three where it has them), `closing` its last two.
bool isQuestion(std::span<const std::string> opening, std::span<const std::string> closing);

}  // namespace ondevice::platform
