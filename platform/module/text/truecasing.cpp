#include "platform/module/text/truecasing.h"

#include "base/ascii.h"
#include "platform/module/text/truecasing_table.h"

namespace ondevice::platform {
namespace {

using enum WordClass;

// The pronoun "I" and its contractions: "i", "i'm", "i'd", "i'll", "i've".
bool isPronounI(std::string_view part) {
  return part == "i" || (part.size() > 2 && part[0] == 'i' && part[1] == '\'');
}

// Whether a word in lower case is a name where the table has it: not the pronoun.
bool mayBeName(std::string_view word) { return word != "i" && !word.starts_with("i'"); }

bool isLowerCase(std::string_view text) {
  for (const char c : text) {
    if (isAsciiUpper(c)) return false;
  }
  return true;
}

// One part of a word (between hyphens): the pronoun, else the table's capitals.
std::string writtenPart(std::string_view part) {
  if (isPronounI(part)) {
    std::string written(part);
    written[0] = 'I';
    return written;
  }
  if (isLowerCase(part)) {
    if (const auto form = capitalisedForm(part)) return std::string(*form);
  }
  return std::string(part);
}

// Words after which "miss" is the verb: "i miss", "you'll miss", "to miss", "never miss".
bool beforeAVerb(const Word& word) {
  return word.stemIsAny(subjectPronoun | beforeABareVerb) ||
         word.isAny(beforeABareVerb | auxiliaryAnyPerson);
}

}  // namespace

Truecased truecased(std::string_view spoken, WordClasses classes) {
  if (classes.has(title)) {  // "Mr.", "Dr.", "St."
    std::string written = startOfSentence(std::string(spoken));
    for (size_t i = 1; i < written.size(); ++i) written[i] = asciiLower(written[i]);
    // The table knows some titles only with capitals ("St"): as names, they open a phrase.
    return {written + '.', isLowerCase(spoken) && capitalisedForm(spoken).has_value()};
  }
  const bool lower = isLowerCase(spoken);
  if (spoken.find('-') == std::string_view::npos) {
    std::string written = writtenPart(spoken);
    return {written, lower && mayBeName(spoken) && written != spoken};
  }
  std::string written;
  size_t start = 0;
  while (true) {
    const size_t hyphen = spoken.find('-', start);
    written += writtenPart(spoken.substr(start, hyphen - start));
    if (hyphen == std::string_view::npos) break;
    written += '-';
    start = hyphen + 1;
  }
  // A name as a whole: the table holds some hyphenated words.
  return {written, lower && mayBeName(spoken) && capitalisedForm(spoken).has_value()};
}

std::string writtenWord(std::string_view spoken) {
  return truecased(spoken, wordClasses(spoken)).written;
}

std::string startOfSentence(std::string written) {
  for (char& c : written) {
    if (isAsciiLower(c)) {
      c = asciiUpper(c);
      break;
    }
    if (isAsciiUpper(c)) break;  // already a capital
  }
  return written;
}

bool isTitleBeforeName(const Word* before, const Word& word, const Word& next) {
  if (!word.is(titleBeforeAName) || !next.name) return false;
  return word.text != "miss" || before == nullptr || !beforeAVerb(*before);
}

bool onlyFormChanged(std::string_view written, const Word& spoken) {
  if (equalsIgnoringAsciiCase(written, spoken.text)) return true;
  return spoken.is(title) && written.size() == spoken.text.size() + 1 && written.back() == '.' &&
         equalsIgnoringAsciiCase(written.substr(0, spoken.text.size()), spoken.text);
}

}  // namespace ondevice::platform
