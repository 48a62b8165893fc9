#pragma once
// Truecasing: the written case of each recognised word, wherever it stands in a sentence, and a
// title's dot, never another letter. The capital that opens a sentence is the punctuation's
// (readable_text.h).
//
//   writtenWord("i'm");        // "I'm"     the pronoun and its contractions
//   writtenWord("london");     // "London"  the truecasing table knows it only with capitals
//   writtenWord("may");        // "may"     the table knows both; no rule is certain
//   writtenWord("mr");         // "Mr."     a title
//   startOfSentence("well");   // "Well"

#include <string>
#include <string_view>

#include "platform/module/text/word.h"

namespace ondevice::platform {

// The word with the case the truecasing table or a certain rule gives it; each part of a
// hyphenated word on its own ("african-american": "African-American"). Letters already
// capitalised stay so.
std::string writtenWord(std::string_view spoken);

// A recognised word's written form (writtenWord) and whether it is a name (Word::name), given
// the word's classes.
struct Truecased {
  std::string written;
  bool name = false;
};
Truecased truecased(std::string_view spoken, WordClasses classes);

// `written` with its first letter capitalised, as at the start of a sentence or for a name.
std::string startOfSentence(std::string written);

// Whether `word`, between `before` (if any) and `next`, is a title written with a capital because
// a name follows it: "colonel forster" is "Colonel Forster", "miss watson" "Miss Watson", "sir
// william" "Sir William"; the verb stays ("i miss london", "to miss jane").
bool isTitleBeforeName(const Word* before, const Word& word, const Word& next);

// Whether `written` is `spoken` with nothing changed but the case of letters and, for a title,
// its dot.
bool onlyFormChanged(std::string_view written, const Word& spoken);

}  // namespace ondevice::platform
