#pragma once
// The written form of one recognised word, wherever it stands in a sentence: the case a reader
// expects and a title's dot, never another letter.
//
//   writtenWord("i'm");        // "I'm"     the pronoun and its contractions
//   writtenWord("london");     // "London"  the word list knows it only with capitals
//   writtenWord("may");        // "may"     the list knows both; no rule is certain
//   writtenWord("mr");         // "Mr."     a title
//   startOfSentence("well");   // "Well"

#include <string>
#include <string_view>

namespace ondevice::platform {

// A title written before a name, as the recogniser spells it: "mr", "mrs", "ms", "dr", "st".
bool isTitle(std::string_view spoken);

// A word the cased list knows only with capitals, as the recogniser spells it (lower case); not
// the pronoun "I".
bool isName(std::string_view word);

// Whether `word`, between `before` and `next`, is a title written with a capital because a name
// follows it: "colonel forster" is "Colonel Forster", "miss watson" "Miss Watson", "sir william"
// "Sir William"; the verb stays ("i miss london", "to miss jane").
bool isTitleBeforeName(std::string_view before, std::string_view word, std::string_view next);

// The word with the case the list or a certain rule gives it; each part of a hyphenated word on
// its own ("african-american": "African-American"). Letters already capitalised stay so.
std::string writtenWord(std::string_view spoken);

// `written` with its first letter capitalised, as at the start of a sentence or for a name.
std::string startOfSentence(std::string written);

// ASCII lower case, as the recogniser spells its words.
std::string loweredAscii(std::string_view text);

}  // namespace ondevice::platform
