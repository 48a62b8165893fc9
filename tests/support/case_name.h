#pragma once
// Names for the cases of a TEST_P table, so that a failing case names itself in the test's name:
//
//   INSTANTIATE_TEST_SUITE_P(, Prepare, ValuesIn(kPreparations), namedBy<&Preparation::name>);
//   INSTANTIATE_TEST_SUITE_P(, Dispatch, ValuesIn(kDispatches), numberedBy<&Dispatch::arguments>);
//   // ctest -R "Dispatch.WritesExactly/3_transcribe_file_a_wav"

#include <string>
#include <string_view>
#include <vector>

namespace ondevice::testing {

// Letters and digits kept, every other run of bytes one "_", at most 60 characters; "empty" for
// a text without a letter or digit.
inline std::string caseName(std::string_view text) {
  std::string name;
  for (const char c : text) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (kept) {
      name.push_back(c);
    } else if (!name.empty() && name.back() != '_') {
      name.push_back('_');
    }
    if (name.size() >= 60) break;
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "empty" : name;
}

inline std::string caseName(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += word + " ";
  return caseName(text);
}

// The case's `Member`, for tables whose names are unique.
template <auto Member>
inline constexpr auto namedBy = [](const auto& info) { return caseName(info.param.*Member); };

// Its position in the table and its `Member`, for names that may coincide once reduced.
template <auto Member>
inline constexpr auto numberedBy = [](const auto& info) {
  return std::to_string(info.index) + "_" + caseName(info.param.*Member);
};

}  // namespace ondevice::testing
