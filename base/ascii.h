#pragma once
// ASCII letters and digits, and case without a locale: identifiers, URL schemes, headers and
// the recogniser's words are ASCII, and std::tolower depends on the process's locale.
//
//   asciiLowered("EN-us");                       // "en-us"
//   startsWithIgnoringAsciiCase("HTTP/1.1 200", "http/");   // true

#include <algorithm>
#include <string>
#include <string_view>

namespace ondevice {

constexpr bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool isAsciiAlpha(char c) { return isAsciiUpper(c) || isAsciiLower(c); }
constexpr bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isAsciiAlnum(char c) { return isAsciiAlpha(c) || isAsciiDigit(c); }

constexpr char asciiLower(char c) { return isAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char asciiUpper(char c) { return isAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string asciiLowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), asciiLower);
  return out;
}
inline std::string asciiUppered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), asciiUpper);
  return out;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return asciiLower(x) == asciiLower(y);
         });
}
constexpr bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace ondevice
