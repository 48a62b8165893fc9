#pragma once
// Whether a word is one of a short list, as the text rules name their word classes:
//
//   among(word, {"and", "but"});
//   among(word, kAuxiliaries);   // a constexpr array

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string_view>

namespace ondevice::platform {

inline bool among(std::string_view word, std::span<const std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

inline bool among(std::string_view word, std::initializer_list<std::string_view> words) {
  return among(word, std::span<const std::string_view>(words.begin(), words.size()));
}

}  // namespace ondevice::platform
