#pragma once
// The text stage: turns each recognised utterance, in time order, into written English by
// punctuation and truecasing: a capital at the start of each sentence and a full stop or a
// question mark at its end, commas where a convention or a pause before a clause makes them
// certain, the pronoun "I", the words a cased word list knows only with capitals, titles with
// their dot and the name after a title. Numbers stay words. No recognised word changes:
// lower-casing the text and taking away the dots, commas and question marks added gives the
// recogniser's words back, which write() checks word by word. docs/text_rules.md lists the
// rules; english_words.txt holds the word classes they use.
//
//   ReadableText text;
//   text.write({{{"but"}, {"mr"}}, UtteranceEnd::pause});            // "But Mr."
//   text.write({{{"john"}, {"came", 0, SentenceOdds{-0.6}}},       // "John came."
//               UtteranceEnd::pause});
//
// Each segment is analysed on its own first (segment_analysis.h: its words classified once,
// what the segment says at each word); this class is the sentence state that walks the analysis
// and carries a sentence from one segment into the next. The text of a segment depends on the
// segments before it (a sentence may run on into the next utterance, a title's name may open
// it), never on later ones.

#include <string>
#include <vector>

#include "platform/module/text/comma_punctuation.h"
#include "platform/module/text/segment_analysis.h"
#include "platform/module/text/sentence_punctuation.h"
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
  // A clause of the running sentence, as far as the judgement of its end needs it: from the
  // sentence's opening, a comma or an "and" or "but" inside it.
  struct Clause {
    std::vector<Word> opening;  // its first words
    size_t words = 0;
  };

  // The written form of `word`, the running sentence's next word, without a mark;
  // `titleBeforeName` says whether it is a title without a dot before a name.
  std::string written(const Word& word, bool titleBeforeName);
  // Closes the running sentence after `text`'s last word.
  void endSentence(std::string& text);
  // Whether the pause after a word (judged `at`) ends the sentence instead of taking a comma:
  // a main clause before it and a new one after.
  bool pauseEndsSentence(const WordJudgement& at) const;
  // Whether a comma follows `word` (judged `at`), which goes on the running sentence.
  bool commaAfter(const Word& word, const WordJudgement& at) const;
  // Whether the running clause is one or two words after a comma: an address or an aside set
  // off (", Eliza", ", Mr. Darcy").
  bool shortAfterComma() const { return afterComma_ && clauseNow_.words <= 2; }

  SentenceSettings settings_;
  CommaSettings commas_;
  bool sentenceOpen_ = false;  // the last segment ended inside a sentence
  bool nameNext_ = false;      // the word before was a title
  std::vector<Word> opening_;  // the running sentence's first words
  std::vector<Word> closing_;  // its last two words
  bool afterComma_ = false;    // the running sentence has a comma
  std::vector<Word> clause_;   // the first words after its last comma
  Clause clauseNow_;           // the clause the last word belongs to
  Clause clauseBefore_;        // the one before the last comma
};

}  // namespace ondevice::platform
