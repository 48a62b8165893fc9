#pragma once
// Exact times in an audio file: a count of ticks over a timescale (ticks per second), so that a
// last-sample time such as 113600/16000 stays exact until it is turned into seconds.
//
//   MediaTime start{24000, 16000};            // 1.5 s
//   TimeRange range{start, MediaTime{1, 4}};  // 1.5 s .. 1.75 s
//   range.end().seconds();                    // 1.75

#include <cstdint>
#include <limits>
#include <numeric>

namespace ondevice::platform {

struct MediaTime {
  int64_t value = 0;
  int32_t timescale = 0;  // ticks per second; 0 marks an invalid time

  // Seconds as a double; an invalid time gives NaN.
  double seconds() const {
    if (timescale == 0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(value) / static_cast<double>(timescale);
  }

  friend bool operator==(const MediaTime&, const MediaTime&) = default;
};

struct TimeRange {
  MediaTime start;
  MediaTime duration;

  // start + duration, exact: both are brought to a common timescale first.
  MediaTime end() const {
    if (start.timescale == 0 || duration.timescale == 0) return MediaTime{0, 0};
    if (start.timescale == duration.timescale) {
      return MediaTime{start.value + duration.value, start.timescale};
    }
    const int64_t common = std::lcm<int64_t, int64_t>(start.timescale, duration.timescale);
    if (common <= std::numeric_limits<int32_t>::max()) {
      return MediaTime{
          start.value * (common / start.timescale) + duration.value * (common / duration.timescale),
          static_cast<int32_t>(common)};
    }
    // Timescales too far apart for one exact scale: fall back to microseconds.
    const double micros = (start.seconds() + duration.seconds()) * 1e6;
    return MediaTime{static_cast<int64_t>(micros), 1000000};
  }

  friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

}  // namespace ondevice::platform
