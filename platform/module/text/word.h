#pragma once
// A recognised word as the punctuation and truecasing rules see it: classified once, when the
// segment is analysed (segment_analysis.h), and asked by class from then on.
//
//   const Word word = classified("i'm");
//   word.stemIs(WordClass::subjectPronoun);   // true: "i"
//   word.is(WordClass::subjectPronoun);       // false: the contraction is in no class

#include <string>
#include <string_view>

#include "platform/module/text/word_classes.h"

namespace ondevice::platform {

struct Word {
  std::string text;         // as the recogniser spells it: "mr", "i'm", "dashwood"
  std::string written;      // its truecased form ("Mr.", "I'm", "London"), without the capital
                            // that opens a sentence
  WordClasses classes;      // its classes (english_words.txt)
  WordClasses stemClasses;  // those of its part before an apostrophe ("i'm": "i"); without one,
                            // its own
  bool name = false;        // the truecasing table knows it only with capitals, as spoken (in
                            // lower case) and not the pronoun "I"

  bool is(WordClass c) const { return classes.has(c); }
  bool isAny(WordClasses c) const { return classes.any(c); }
  bool stemIs(WordClass c) const { return stemClasses.has(c); }
  bool stemIsAny(WordClasses c) const { return stemClasses.any(c); }
};

// `spoken` classified: its classes, its stem's, its truecased form, whether it is a name.
Word classified(std::string_view spoken);

}  // namespace ondevice::platform
