#pragma once
// What the recogniser hands the text stage for one utterance: its words as the recogniser spells
// them, the pauses it heard between them, what its language model says about a sentence ending
// after them, and why the utterance ended.
//
//   SpokenSegment segment{{{"he"}, {"was"}, {"not"}, {"here", 0, SentenceOdds{-0.9}}},
//                         SegmentEnd::pause};

#include <optional>
#include <string>
#include <vector>

namespace ondevice::platform {

// Why the segmenter ended the utterance.
enum class SegmentEnd {
  pause,          // a pause of 0.4 s or more
  pauseWhenLong,  // a shorter pause, once the utterance had grown long
  cut,            // no pause at all: cut at its quietest stretch to bound its length
  endOfStream,    // the audio ended
};

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
  SegmentEnd end = SegmentEnd::pause;
};

}  // namespace ondevice::platform
