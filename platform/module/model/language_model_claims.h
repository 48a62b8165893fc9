#pragma once
// What a language model's header claims: how many n-grams of each order the file holds. The
// recogniser sizes its tables from these counts before it reads a single n-gram, so a header
// that claims more than its file can hold makes it ask for gigabytes (a claim of 2e9 unigrams,
// 24 GB) and end the process when it cannot have them. Read from the header alone, against the
// file's size.
//
//   const auto claims = readLanguageModelClaims(firstBytes);
//   if (claims && claims->fewestBytes > fileSize) ...   // refused
//
// The three formats the recogniser reads: its binary trie ("Trie Language Model"), the older
// binary dump ("Darpa Trigram LM") and ARPA text ("\data\", "ngram 1=..."). Pure: no file, no
// recogniser.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondevice::platform {

// Enough of the file for any of the three headers.
inline constexpr size_t kLanguageModelHeaderBytes = 8192;

// The highest n-gram order the recogniser reads; it keeps the counts in an array of this size.
inline constexpr size_t kHighestNgramOrder = 5;

struct LanguageModelClaims {
  size_t order = 0;              // the highest n-gram order claimed
  std::vector<uint64_t> counts;  // of 1-grams, 2-grams, ... (none past kHighestNgramOrder)
  // The smallest file that can hold what the header claims (saturating).
  uint64_t fewestBytes = 0;
};

// The claims of the header at the start of `header` (the file's first bytes, up to
// kLanguageModelHeaderBytes); none when it is no header of a known format, or does not end
// within those bytes (the recogniser then judges the file itself).
std::optional<LanguageModelClaims> readLanguageModelClaims(std::string_view header);

// Why the recogniser must not read a language model of `fileBytes` bytes whose header claims
// `claims`; none when it can. For example "claims 2000000000 1-grams, more than its 27114385
// bytes can hold".
std::optional<std::string> languageModelClaimFault(const LanguageModelClaims& claims,
                                                   uint64_t fileBytes);

}  // namespace ondevice::platform
