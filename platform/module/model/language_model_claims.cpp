#include "platform/module/model/language_model_claims.h"

#include <cstring>

#include "base/saturating.h"

namespace ondevice::platform {
namespace {

// The fewest bytes an n-gram of each kind takes in each format (what the recogniser reads for
// it, without the variable parts).
//   trie: a unigram record (probability, back-off, index: 12 bytes) and its word (a letter and
//         its terminating NUL); a higher-order entry at least its quantized probability (16 bits).
//   dump: a unigram record (16 bytes), a bigram (8), a trigram (4).
//   ARPA: a line "p w1 ... wn\n", each field at least one character.
constexpr uint64_t kTrieUnigramBytes = 12 + 2;
constexpr uint64_t kTrieHigherOrderBytes = 2;
// The trie's quantization tables: a 4-byte word, then 65 536 floats of probabilities and as many
// of back-offs per middle order, and the probabilities of the highest.
constexpr uint64_t kQuantTableBytes = 65536 * 4;
constexpr uint64_t kDumpUnigramBytes = 16;
constexpr uint64_t kDumpBigramBytes = 8;
constexpr uint64_t kDumpTrigramBytes = 4;

constexpr std::string_view kTrieMagic = "Trie Language Model";
constexpr std::string_view kDumpMagic = std::string_view("Darpa Trigram LM\0", 17);

// Reads the header's fields in order; any read past its end fails the whole header.
class HeaderReader {
 public:
  explicit HeaderReader(std::string_view bytes) : bytes_(bytes) {}

  bool skip(uint64_t count) {
    if (count > bytes_.size() - at_) return fail();
    at_ += static_cast<size_t>(count);
    return true;
  }
  std::optional<uint32_t> u32(bool bigEndian) {
    if (bytes_.size() - at_ < 4) {
      fail();
      return std::nullopt;
    }
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const auto byte =
          static_cast<uint8_t>(bytes_[at_ + static_cast<size_t>(bigEndian ? i : 3 - i)]);
      value = value << 8 | byte;
    }
    at_ += 4;
    return value;
  }
  std::optional<uint8_t> u8() {
    if (at_ >= bytes_.size()) {
      fail();
      return std::nullopt;
    }
    return static_cast<uint8_t>(bytes_[at_++]);
  }
  size_t offset() const { return at_; }

 private:
  bool fail() {
    at_ = bytes_.size();
    return false;
  }
  std::string_view bytes_;
  size_t at_ = 0;
};

std::optional<LanguageModelClaims> trieClaims(std::string_view header) {
  HeaderReader reader(header);
  reader.skip(kTrieMagic.size());
  const auto order = reader.u8();
  if (!order) return std::nullopt;
  LanguageModelClaims claims;
  claims.order = *order;
  if (*order == 0 || *order > kHighestNgramOrder) return claims;  // refused for its order
  for (unsigned i = 0; i < *order; ++i) {
    const auto count = reader.u32(false);
    if (!count) return std::nullopt;
    claims.counts.push_back(*count);
  }
  uint64_t bytes = reader.offset();
  if (*order > 1) {
    bytes += 4 + (2 * (*order - 2) + 1) * kQuantTableBytes;
  }
  const uint64_t unigrams = claims.counts[0];
  bytes = saturatingSum(bytes, saturatingProduct(unigrams + 1, 12));
  bytes = saturatingSum(bytes, saturatingProduct(unigrams, kTrieUnigramBytes - 12) + 4);
  for (size_t i = 1; i < claims.counts.size(); ++i) {
    bytes = saturatingSum(bytes, saturatingProduct(claims.counts[i], kTrieHigherOrderBytes));
  }
  claims.fewestBytes = bytes;
  return claims;
}

std::optional<LanguageModelClaims> dumpClaims(std::string_view header, bool bigEndian) {
  HeaderReader reader(header);
  reader.skip(4 + kDumpMagic.size());
  const auto nameLength = reader.u32(bigEndian);
  if (!nameLength || !reader.skip(*nameLength)) return std::nullopt;
  const auto version = reader.u32(bigEndian);
  if (!version) return std::nullopt;
  std::optional<uint32_t> unigrams = version;
  if (static_cast<int32_t>(*version) <= 0) {
    if (!reader.u32(bigEndian)) return std::nullopt;  // a time stamp
    for (;;) {                                        // format descriptions, up to an empty one
      const auto length = reader.u32(bigEndian);
      if (!length) return std::nullopt;
      if (*length == 0) break;
      if (!reader.skip(*length)) return std::nullopt;
    }
    unigrams = reader.u32(bigEndian);
  }
  const auto bigrams = reader.u32(bigEndian);
  const auto trigrams = reader.u32(bigEndian);
  if (!unigrams || !bigrams || !trigrams) return std::nullopt;
  LanguageModelClaims claims;
  claims.order = 3;
  claims.counts = {*unigrams, *bigrams, *trigrams};
  uint64_t bytes = reader.offset();
  bytes = saturatingSum(bytes, saturatingProduct(uint64_t{*unigrams} + 1, kDumpUnigramBytes));
  if (*bigrams > 0) {
    bytes = saturatingSum(bytes, saturatingProduct(uint64_t{*bigrams} + 1, kDumpBigramBytes));
  }
  bytes = saturatingSum(bytes, saturatingProduct(*trigrams, kDumpTrigramBytes));
  claims.fewestBytes = bytes;
  return claims;
}

// The line at `at` without its line end and surrounding blanks; `at` moves past it. False at
// the end of `text` or where the line does not end within it.
bool nextLine(std::string_view text, size_t& at, std::string_view& line) {
  if (at >= text.size()) return false;
  const size_t end = text.find('\n', at);
  if (end == std::string_view::npos) return false;
  line = text.substr(at, end - at);
  at = end + 1;
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    line = {};
    return true;
  }
  line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
  return true;
}

// "ngram N=C" with N the order expected next; the count, or none for any other line.
std::optional<uint64_t> countLine(std::string_view line, size_t order) {
  const std::string expected = "ngram " + std::to_string(order) + "=";
  if (!line.starts_with(expected)) return std::nullopt;
  const std::string_view digits = line.substr(expected.size());
  if (digits.empty() || digits.size() > 19) return std::nullopt;
  uint64_t count = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + static_cast<uint64_t>(c - '0');
  }
  return count;
}

std::optional<LanguageModelClaims> arpaClaims(std::string_view header) {
  size_t at = 0;
  std::string_view line;
  for (;;) {
    if (!nextLine(header, at, line)) return std::nullopt;
    if (line == "\\data\\") break;
  }
  LanguageModelClaims claims;
  while (nextLine(header, at, line)) {
    const auto count = countLine(line, claims.order + 1);
    if (!count) break;
    if (++claims.order > kHighestNgramOrder) return claims;  // refused for its order
    claims.counts.push_back(*count);
  }
  if (claims.order == 0) return std::nullopt;
  uint64_t bytes = 0;
  for (size_t order = 1; order <= claims.counts.size(); ++order) {
    bytes = saturatingSum(bytes, saturatingProduct(claims.counts[order - 1], 2 * order + 2));
  }
  claims.fewestBytes = bytes;
  return claims;
}

}  // namespace

std::optional<LanguageModelClaims> readLanguageModelClaims(std::string_view header) {
  if (header.starts_with(kTrieMagic)) return trieClaims(header);
  if (header.size() >= 4 + kDumpMagic.size() && header.substr(4).starts_with(kDumpMagic)) {
    const std::string_view length = header.substr(0, 4);
    if (length == std::string_view("\x11\0\0\0", 4)) return dumpClaims(header, false);
    if (length == std::string_view("\0\0\0\x11", 4)) return dumpClaims(header, true);
    return std::nullopt;
  }
  return arpaClaims(header);
}

std::optional<std::string> languageModelClaimFault(const LanguageModelClaims& claims,
                                                   uint64_t fileBytes) {
  const size_t order = claims.order;
  if (order == 0 || order > kHighestNgramOrder || claims.counts.size() != order) {
    return "claims n-grams of order " + std::to_string(order) +
           ", where the recogniser reads orders 1 to " + std::to_string(kHighestNgramOrder);
  }
  if (claims.fewestBytes <= fileBytes) return std::nullopt;
  // The order whose count is the largest names the claim.
  size_t largest = 0;
  for (size_t i = 1; i < order; ++i) {
    if (claims.counts[i] > claims.counts[largest]) largest = i;
  }
  return "claims " + std::to_string(claims.counts[largest]) + " " + std::to_string(largest + 1) +
         "-grams, more than its " + std::to_string(fileBytes) + " bytes can hold";
}

}  // namespace ondevice::platform
