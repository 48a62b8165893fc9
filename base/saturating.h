#pragma once
// Byte and file counts that stop at the largest value instead of wrapping around: a limit or a
// need computed from sizes a file or a server declares must never come out small by overflow.
//
//   saturatingSum(UINT64_MAX - 1, 5)   // UINT64_MAX

#include <cstdint>
#include <limits>

namespace ondevice {

constexpr std::uint64_t saturatingSum(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

constexpr std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b
             ? std::numeric_limits<std::uint64_t>::max()
             : a * b;
}

}  // namespace ondevice
