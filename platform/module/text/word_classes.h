#pragma once
// The English word classes of the punctuation and truecasing rules, as data: english_words.txt
// lists the words of each class, and word_classes_generator.cpp compiles it into the module at
// build time (a sorted table of words with their classes; a lookup is a binary search in
// read-only data). This header is all the generator reads of the code: the class names below.
//
//   wordClasses("were").has(WordClass::auxiliaryPlural);              // true
//   wordClasses("sir").has(WordClass::address);                        // true
//   wordClasses("house").none();                                       // true: no class

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace ondevice::platform {

// One constant per section of english_words.txt; kWordClassNames names each as the file does.
// What each class holds and why is said there.
enum class WordClass : std::uint8_t {
  subjectPronoun,
  objectPronoun,
  thirdPersonSingular,
  pluralPronoun,
  possessive,
  possessivePronoun,
  article,
  auxiliaryThirdPersonSingular,
  auxiliaryPlural,
  auxiliaryFirstPerson,
  auxiliaryNotThirdPerson,
  auxiliaryAnyPerson,
  verbAfterASubject,
  beforeABareVerb,
  takesAClause,
  commentVerb,
  commentModal,
  commentComplement,
  commentObject,
  whWord,
  relativePronoun,
  afterHow,
  afterWhat,
  afterWhich,
  afterWhy,
  coordinator,
  clauseConjunction,
  subordinator,
  preposition,
  address,
  addressAfterMy,
  title,
  titleBeforeAName,
  parentheticalAdverb,
  modalAdverb,
  interjection,
  interjectionOrPhrase,
  subjectBeforeAVerb,
  subjectContraction,
  conditionalInversion,
  leadingWord,
  goesOnAPhrase,
  clauseGoesOn,
};

inline constexpr std::string_view kWordClassNames[] = {
    "subject pronoun",
    "object pronoun",
    "third person singular",
    "plural pronoun",
    "possessive",
    "possessive pronoun",
    "article",
    "auxiliary, third person singular",
    "auxiliary, plural",
    "auxiliary, first person",
    "auxiliary, not third person",
    "auxiliary, any person",
    "verb after a subject",
    "before a bare verb",
    "takes a clause",
    "comment verb",
    "comment modal",
    "comment complement",
    "comment object",
    "wh-word",
    "relative pronoun",
    "after how",
    "after what",
    "after which",
    "after why",
    "coordinator",
    "clause conjunction",
    "subordinator",
    "preposition",
    "address",
    "address after my",
    "title",
    "title before a name",
    "parenthetical adverb",
    "modal adverb",
    "interjection",
    "interjection or phrase",
    "subject before a verb",
    "subject contraction",
    "conditional inversion",
    "leading word",
    "goes on a phrase",
    "clause goes on",
};
static_assert(std::size(kWordClassNames) == static_cast<std::size_t>(WordClass::clauseGoesOn) + 1);

// A set of word classes.
class WordClasses {
 public:
  constexpr WordClasses() = default;
  constexpr explicit WordClasses(std::uint64_t bits) : bits_(bits) {}
  constexpr WordClasses(WordClass c) : bits_(std::uint64_t{1} << static_cast<unsigned>(c)) {}

  constexpr bool has(WordClass c) const { return (bits_ & WordClasses(c).bits_) != 0; }
  // Whether the set shares a class with `other`.
  constexpr bool any(WordClasses other) const { return (bits_ & other.bits_) != 0; }
  constexpr bool none() const { return bits_ == 0; }
  constexpr std::uint64_t bits() const { return bits_; }
  friend constexpr WordClasses operator|(WordClasses a, WordClasses b) {
    return WordClasses(a.bits_ | b.bits_);
  }
  friend constexpr bool operator==(WordClasses, WordClasses) = default;

 private:
  std::uint64_t bits_ = 0;
};

constexpr WordClasses operator|(WordClass a, WordClass b) {
  return WordClasses(a) | WordClasses(b);
}

// The auxiliaries, of every person.
inline constexpr WordClasses kAuxiliary =
    WordClass::auxiliaryThirdPersonSingular | WordClass::auxiliaryPlural |
    WordClass::auxiliaryFirstPerson | WordClass::auxiliaryNotThirdPerson |
    WordClass::auxiliaryAnyPerson;

// The classes of `word`, ASCII case folded (the table holds lower-case words); none for a word
// english_words.txt does not list.
WordClasses wordClasses(std::string_view word);

// How many words the table holds.
std::size_t classifiedWordCount();

}  // namespace ondevice::platform
