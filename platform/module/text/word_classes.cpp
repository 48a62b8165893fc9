#include "platform/module/text/word_classes.h"

#include <algorithm>

#include "base/ascii.h"

namespace ondevice::platform {

// Generated at build time from english_words.txt: the words, sorted, one after the other; where
// each starts (and the last ends); the classes of each.
extern const char kEnglishWords[];
extern const std::uint16_t kEnglishWordStarts[];
extern const std::uint64_t kEnglishWordClasses[];
extern const std::size_t kEnglishWordCount;

namespace {

std::string_view tableWord(std::size_t i) {
  return {kEnglishWords + kEnglishWordStarts[i],
          static_cast<std::size_t>(kEnglishWordStarts[i + 1] - kEnglishWordStarts[i])};
}

// Compares a table word (lower case) with `word` folded to lower case, byte by byte.
int compareFolded(std::string_view entry, std::string_view word) {
  const std::size_t common = std::min(entry.size(), word.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(entry[i]);
    const auto b = static_cast<unsigned char>(asciiLower(word[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (entry.size() == word.size()) return 0;
  return entry.size() < word.size() ? -1 : 1;
}

}  // namespace

WordClasses wordClasses(std::string_view word) {
  std::size_t low = 0;
  std::size_t high = kEnglishWordCount;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    const int order = compareFolded(tableWord(middle), word);
    if (order == 0) return WordClasses(kEnglishWordClasses[middle]);
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return {};
}

std::size_t classifiedWordCount() { return kEnglishWordCount; }

}  // namespace ondevice::platform
