#include "platform/module/text/written_word.h"

#include <array>

#include "platform/module/text/truecasing_table.h"
#include "platform/module/text/word_sets.h"

namespace ondevice::platform {
namespace {

// The recogniser's spelling of a title and its written form.
constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kTitles = {{
    {"mr", "Mr."},
    {"mrs", "Mrs."},
    {"ms", "Ms."},
    {"dr", "Dr."},
    {"st", "St."},
}};

// Titles written without a dot, with a capital before a name.
constexpr std::string_view kNamedTitles[] = {
    "miss",       "sir",      "lady",      "lord",      "colonel", "captain", "general",
    "lieutenant", "sergeant", "professor", "president", "king",    "queen",   "prince",
    "princess",   "senator",  "governor",  "judge",     "bishop",  "saint"};

// Words after which "miss" is the verb: "i miss", "you'll miss", "to miss", "never miss".
bool beforeAVerb(std::string_view word) {
  const std::string lower = loweredAscii(word);
  const std::string_view stem = std::string_view(lower).substr(0, lower.find('\''));
  return among(stem, {"i", "you", "we", "they", "he", "she", "it", "who", "people"}) ||
         among(lower,
               {"to",    "not",     "never",  "always", "will",     "would",  "shall",     "should",
                "can",   "could",   "may",    "might",  "must",     "do",     "does",      "did",
                "don't", "doesn't", "didn't", "won't",  "wouldn't", "can't",  "couldn't",  "really",
                "just",  "also",    "still",  "often",  "rarely",   "seldom", "sometimes", "all"});
}

bool isLowerAscii(char c) { return c >= 'a' && c <= 'z'; }
char upperAscii(char c) { return isLowerAscii(c) ? static_cast<char>(c - 'a' + 'A') : c; }

// One part of a word (between hyphens): the pronoun, else the list's capitals.
std::string writtenPart(std::string_view part) {
  // "i", "i'm", "i'd", "i'll", "i've": the pronoun is always a capital.
  if (part == "i" || (part.size() > 2 && part[0] == 'i' && part[1] == '\'')) {
    std::string written(part);
    written[0] = 'I';
    return written;
  }
  const std::string lower = loweredAscii(part);
  if (lower == part) {
    if (const auto form = capitalisedForm(lower)) return std::string(*form);
  }
  return std::string(part);
}

}  // namespace

bool isTitle(std::string_view spoken) {
  const std::string lower = loweredAscii(spoken);
  for (const auto& [title, written] : kTitles) {
    if (lower == title) return true;
  }
  return false;
}

bool isName(std::string_view word) {
  return loweredAscii(word) == word && word != "i" && !word.starts_with("i'") &&
         capitalisedForm(word).has_value();
}

bool isTitleBeforeName(std::string_view before, std::string_view word, std::string_view next) {
  if (!among(word, kNamedTitles) || !isName(next)) return false;
  return word != "miss" || !beforeAVerb(before);
}

std::string writtenWord(std::string_view spoken) {
  const std::string lower = loweredAscii(spoken);
  for (const auto& [title, written] : kTitles) {
    if (lower == title) return std::string(written);
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
  return written;
}

std::string startOfSentence(std::string written) {
  for (char& c : written) {
    if (isLowerAscii(c)) {
      c = upperAscii(c);
      break;
    }
    if (c >= 'A' && c <= 'Z') break;  // already a capital
  }
  return written;
}

std::string loweredAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace ondevice::platform
