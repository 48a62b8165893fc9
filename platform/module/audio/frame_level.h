#pragma once
// The level of a frame of 16-bit samples: its mean square in dB over one step squared, with one
// added so that digital silence is 0 dB rather than minus infinity.

#include <cmath>
#include <cstdint>
#include <span>

namespace ondevice::platform {

inline double frameLevelDb(std::span<const int16_t> frame) {
  int64_t sumOfSquares = 0;
  for (const int16_t sample : frame) sumOfSquares += int64_t{sample} * sample;
  const double meanSquare = static_cast<double>(sumOfSquares) / static_cast<double>(frame.size());
  return 10.0 * std::log10(meanSquare + 1.0);
}

}  // namespace ondevice::platform
