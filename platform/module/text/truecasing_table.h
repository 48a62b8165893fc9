#pragma once
// The truecasing table: the words a cased word list knows only with capitals, compiled into the
// module at build time (truecasing_table_generator.cpp; the lists are Debian's wamerican and
// wamerican-huge). A lookup is a binary search in read-only data: nothing is read or built when
// a transcription starts.
//
//   capitalisedForm("monday");   // "Monday"
//   capitalisedForm("fbi");      // "FBI"
//   capitalisedForm("may");      // none: the list knows "may" and "May"

#include <cstddef>
#include <optional>
#include <string_view>

namespace ondevice::platform {

// The written form of `word` (lowercase ASCII) when the list knows it only with capitals.
std::optional<std::string_view> capitalisedForm(std::string_view word);

// How many words the table holds.
std::size_t capitalisedWordCount();

}  // namespace ondevice::platform
