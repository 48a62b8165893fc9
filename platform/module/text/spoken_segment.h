#pragma once
// What the recogniser hands the text stage for one utterance: its words as the recogniser spells
// them, the pauses it heard between them, what its language model says about a sentence ending
// after them, and why the utterance ended.
//
//   SpokenSegment segment{{{"he"}, {"was"}, {"not"}, {"here", 0, SentenceOdds{-0.9}}},
//                         UtteranceEnd::pause};

#include <optional>
#include <string>
#include <vector>

#include "platform/module/format/utterance.h"

namespace ondevice::platform {

// The language model's view of a sentence ending after a word, as log10 probabilities given
// the two words up to and including it.
struct SentenceOdds {
  double end = 0;  // of "</s>" next
  // Only where another word follows in the utterance: of that word next, and of that word
  // opening a sentence (after "<s>").
  std::optional<double> nextGoesOn;
  std::optional<double> nextOpens;
};

struct SpokenWord {
  std::string text;      // as the recogniser spells it: "mr", "i'm", "dashwood"
  int pauseAfterMs = 0;  // silence heard before the next word of the utterance
  // Given for the utterance's last word and for words followed by a long pause.
  std::optional<SentenceOdds> odds;
};

struct SpokenSegment {
  std::vector<SpokenWord> words;  // fillers and silence markers never among them
  UtteranceEnd end = UtteranceEnd::pause;
};

}  // namespace ondevice::platform
