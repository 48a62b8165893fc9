#include "platform/module/text/truecasing_table.h"

#include <algorithm>

#include "base/ascii.h"

namespace ondevice::platform {

// Generated at build time: the written forms, each followed by a line feed, sorted by their
// lowercase spelling.
extern const char kTruecasingTable[];
extern const std::size_t kTruecasingTableSize;
extern const std::size_t kTruecasingTableWords;

namespace {

// Compares a written form with a lowercase word as the table is sorted: by lowercase bytes.
int compareLowered(std::string_view written, std::string_view word) {
  const size_t common = std::min(written.size(), word.size());
  for (size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(asciiLower(written[i]));
    const auto b = static_cast<unsigned char>(word[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (written.size() == word.size()) return 0;
  return written.size() < word.size() ? -1 : 1;
}

}  // namespace

std::optional<std::string_view> capitalisedForm(std::string_view word) {
  const std::string_view table(kTruecasingTable, kTruecasingTableSize);
  // Binary search over byte offsets: each probe takes the line it falls in.
  size_t low = 0;
  size_t high = table.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const size_t start = table.rfind('\n', middle == 0 ? 0 : middle - 1);
    const size_t lineStart = (start == std::string_view::npos || middle == 0) ? 0 : start + 1;
    const size_t lineEnd = table.find('\n', lineStart);
    const std::string_view written = table.substr(lineStart, lineEnd - lineStart);
    const int order = compareLowered(written, word);
    if (order == 0) return written;
    if (order < 0) {
      low = lineEnd + 1;
    } else {
      high = lineStart;
    }
  }
  return std::nullopt;
}

std::size_t capitalisedWordCount() { return kTruecasingTableWords; }

}  // namespace ondevice::platform
