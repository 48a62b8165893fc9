#pragma once
// The text stage: turns each recognised utterance, in time order, into written English: a
// capital at the start of each sentence and a full stop or a question mark at its end, commas
// where a convention or a pause before a clause makes them certain, the pronoun "I", the words a
// cased word list knows only with capitals, titles with their dot and the name after a title.
// Numbers stay words. No recognised word changes: lower-casing the text and taking away the dots,
// commas and question marks added gives the recogniser's words back, which write() checks word by
// word.
//
//   ReadableText text;
//   text.write({{{"but"}, {"mr"}}, UtteranceEnd::pause});            // "But Mr."
//   text.write({{{"john"}, {"came", 0, SentenceOdds{-0.6}}},       // "John came."
//               UtteranceEnd::pause});
//
// The text of a segment depends on the segments before it (a sentence may run on into the next
// utterance, a title's name may open it), never on later ones.

#include <span>
#include <string>
#include <vector>

#include "platform/module/text/comma_rules.h"
#include "platform/module/text/sentence_rules.h"
#include "platform/module/text/spoken_segment.h"

namespace ondevice::platform {

class ReadableText {
 public:
  explicit ReadableText(SentenceSettings sentences = {}, CommaSettings commas = {})
      : settings_(sentences), commas_(commas) {}

  // The written text of the next segment, its words joined by one space; empty for a segment
  // without words.
  std::string write(const SpokenSegment& segment);

 private:
  // The written form of word `i` of `words`, the running sentence's next word, without a mark.
  std::string written(const std::vector<SpokenWord>& words, size_t i);
  // Closes the running sentence after `text`'s last word.
  void endSentence(std::string& text);
  // Whether a comma follows word `i` of `words`, which goes on the running sentence; `rest`
  // holds the words after it to the end of the sentence or of the segment, `restEndsSentence`
  // whether a sentence ends with them.
  bool commaAfter(const std::vector<SpokenWord>& words, size_t i, std::span<const std::string> rest,
                  bool restEndsSentence) const;
  // Whether the pause after word `i`, where a comma would go, ends the sentence instead: a main
  // clause before it and a new one (`rest`) after.
  bool pauseEndsSentence(const std::vector<SpokenWord>& words, size_t i,
                         std::span<const std::string> rest) const;
  // Whether the running clause is one or two words after a comma: an address or an aside set
  // off (", Eliza", ", Mr. Darcy").
  bool shortAfterComma() const { return afterComma_ && clauseNow_.words <= 2; }

  SentenceSettings settings_;
  CommaSettings commas_;
  bool sentenceOpen_ = false;         // the last segment ended inside a sentence
  bool nameNext_ = false;             // the word before was a title
  std::vector<std::string> opening_;  // the running sentence's first words, as spoken
  std::vector<std::string> closing_;  // its last two words, as spoken
  bool afterComma_ = false;           // the running sentence has a comma
  std::vector<std::string> clause_;   // the first words after its last comma, as spoken
  // A clause of the running sentence, as far as the judgement of its end needs it: from the
  // sentence's opening, a comma or an "and" or "but" inside it.
  struct Clause {
    std::vector<std::string> opening;  // its first words, as spoken
    size_t words = 0;
  };
  Clause clauseNow_;     // the clause the last word belongs to
  Clause clauseBefore_;  // the one before the last comma
};

}  // namespace ondevice::platform
