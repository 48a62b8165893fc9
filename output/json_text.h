#pragma once
// Building blocks of the JSON text: strings and numbers in the forms the tool writes.

#include <string>
#include <string_view>

namespace ondevice::json {

// Appends `text` as a JSON string: quotation mark, reverse solidus, solidus and U+0000..U+001F
// escaped; bytes that are not valid UTF-8 become U+FFFD, one per byte, so the result is always
// valid UTF-8.
void appendString(std::string& out, std::string_view text);

// Appends the shortest decimal form that reads back as exactly `value`. The caller has checked
// that the value is finite.
void appendNumber(std::string& out, double value);

}  // namespace ondevice::json
