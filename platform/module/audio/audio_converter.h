#pragma once
// The sample side of an audio file: decoded frames of any sample format, rate and channel
// layout converted to the recogniser's 16 kHz mono 16-bit. The resampler is made from the first
// frame, whose layout is authoritative, and made again should a later frame change format, rate
// or layout. Channels without a layout FFmpeg knows how to mix down (most counts above eight,
// any count above 64) are averaged here before the resampler sees them. A frame is converted a
// stretch at a time, so that what one call appends stays bounded whatever the ratio of the rates.
//
//   AudioConverter converter("talk.m4a");                  // the path names the file in errors
//   converter.convert(*frame, 0, frame->nb_samples, out);  // appends; throws PlatformError
//   converter.flush(out);                                  // the resampler's tail, at the end

#include <cstdint>
#include <string>
#include <vector>

#include "platform/module/audio/ffmpeg_handles.h"

namespace ondevice::platform {

class AudioConverter {
 public:
  explicit AudioConverter(std::string path) : path_(std::move(path)) {}
  AudioConverter(const AudioConverter&) = delete;
  AudioConverter& operator=(const AudioConverter&) = delete;

  // Appends to `out` the converted samples `first` to `first + count` of `frame`, the frame's
  // stretches in order. Throws PlatformError "Cannot convert the audio of <path>: <why>", also
  // for a sample rate no audio has.
  void convert(const AVFrame& frame, int first, int count, std::vector<int16_t>& out);
  // How many samples of `frame` convert to about `samples` of the recogniser's (at least one).
  static int stretchFor(const AVFrame& frame, int samples);
  // Appends what the resampler still holds.
  void flush(std::vector<int16_t>& out);
  // Appends what the resampler still holds and starts afresh with the next frame: the audio
  // before and after is not continuous (a gap), so no filter should run across it.
  void restart(std::vector<int16_t>& out);

 private:
  bool fits(const AVFrame& frame) const;
  void remake(const AVFrame& frame);
  void run(const uint8_t** input, int count, std::vector<int16_t>& out);

  std::string path_;
  ffmpeg::Resampler resampler_;
  int rate_ = 0;
  int format_ = -1;
  ffmpeg::ChannelLayout layout_;  // the frames' own, unknown order included
  bool averagesChannels_ = false;
  std::vector<float> mixed_;            // one stretch averaged to mono, when averagesChannels_
  std::vector<const uint8_t*> planes_;  // where the stretch starts in each plane
};

}  // namespace ondevice::platform
