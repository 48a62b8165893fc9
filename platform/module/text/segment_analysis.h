#pragma once
// The per-segment step of the punctuation and truecasing: each word of a recognised segment
// classified once (its word classes, its truecased form, whether it is a name), and what the
// segment alone says at each word: whether a sentence ends after it, which words follow it to
// the end of their sentence or of the segment (its rest, a span), whether it leads into the
// clause after it, whether a pause after it is a boundary. Nothing here depends on the segments
// before; ReadableText (readable_text.h) walks the analysis with the state that a sentence
// carries from one segment into the next.
//
//   const SegmentAnalysis analysis = analyseSegment(segment, {}, {});
//   analysis.words[0].written;      // "Mr."
//   analysis.at[0].sentenceEnds;    // false: a title never ends a sentence
//   analysis.rest(2);               // the words after word 2, to the end of its sentence

#include <cstddef>
#include <span>
#include <vector>

#include "platform/module/text/comma_punctuation.h"
#include "platform/module/text/sentence_punctuation.h"
#include "platform/module/text/spoken_segment.h"
#include "platform/module/text/word.h"

namespace ondevice::platform {

// What the segment says at one of its words. Only sentenceEnds and restEnd are given for the
// last word; a comma after it waits for the next segment.
struct WordJudgement {
  bool sentenceEnds = false;        // a sentence ends after it (the language model, the pause)
  std::size_t restEnd = 0;          // its rest is the words after it up to this index: to the
                                    // first that ends a sentence (included) or the segment's end
  bool titleBeforeName = false;     // a title without a dot before a name: a capital
  bool leadsIntoClause = false;     // its rest is a clause it leads into: no comma and no end
  bool pauseAfter = false;          // a pause after it long enough for a comma or a sentence end
                                    // (never after a title: the name follows)
  bool endsAsideOrAddress = false;  // it closes an address or an aside ("sir", "my dear")
  bool commaAfterAside = false;     // ... and CommaSettings::afterAddress writes a comma there
  bool named = false;               // it is a name or follows a title: an address only when set
                                    // off by a comma
  bool nextOpensPhrase = false;     // a pause before the next word is a boundary
  bool commaBeforeConjunction = false;  // "here, and she"
  bool commaAfterOpening = false;       // as the sentence's first word: "Yes, I"
  bool restOpensMainClause = false;     // its rest opens a main clause
  bool restClosesWithAddress = false;   // its rest ends the sentence with an address ("my dear.")
};

struct SegmentAnalysis {
  std::vector<Word> words;
  std::vector<WordJudgement> at;  // one per word

  // The words after word `i` to the end of its sentence or of the segment.
  std::span<const Word> rest(std::size_t i) const {
    return std::span<const Word>(words).subspan(i + 1, at[i].restEnd - i - 1);
  }
};

SegmentAnalysis analyseSegment(const SpokenSegment& segment, const SentenceSettings& sentences,
                               const CommaSettings& commas);

}  // namespace ondevice::platform
