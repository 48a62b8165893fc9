#include "engine/platform/module/audio_converter.h"

#include <algorithm>

#include "engine/platform/module/audio_limits.h"
#include "engine/platform/platform_error.h"
#include "engine/platform/speech_platform.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace ondevice::platform {

using namespace ffmpeg;

AudioConverter::~AudioConverter() { av_channel_layout_uninit(&layout_); }

void AudioConverter::convert(const AVFrame& frame, std::vector<int16_t>& out) {
  if (frame.sample_rate > kHighestSampleRate) {
    throw PlatformError("Cannot convert the audio of " + path_ + ": a sample rate of " +
                        std::to_string(frame.sample_rate) + " Hz is not audio");
  }
  if (!fits(frame)) {
    flush(out);
    remake(frame);
  }
  run(const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples, out);
}

void AudioConverter::flush(std::vector<int16_t>& out) {
  if (resampler_) run(nullptr, 0, out);
}

bool AudioConverter::fits(const AVFrame& frame) const {
  return resampler_ && rate_ == frame.sample_rate && format_ == frame.format &&
         av_channel_layout_compare(&layout_, &frame.ch_layout) == 0;
}

void AudioConverter::remake(const AVFrame& frame) {
  AVChannelLayout input{};
  if (frame.ch_layout.nb_channels > 0 && frame.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_copy(&input, &frame.ch_layout);
  } else {
    av_channel_layout_default(&input, std::max(frame.ch_layout.nb_channels, 1));
  }
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  SwrContext* raw = nullptr;
  int result = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, kRecognitionSampleRate, &input,
                                   static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0,
                                   nullptr);
  Resampler made(raw);
  if (result >= 0) result = swr_init(made.get());
  if (result < 0) {
    av_channel_layout_uninit(&input);
    throw PlatformError("Cannot convert the audio of " + path_ + ": " + errorText(result));
  }
  resampler_ = std::move(made);
  rate_ = frame.sample_rate;
  format_ = frame.format;
  av_channel_layout_uninit(&layout_);
  layout_ = input;
}

// Runs `count` input samples (or the resampler's tail, when `input` is null) into `out`.
void AudioConverter::run(const uint8_t** input, int count, std::vector<int16_t>& out) {
  const int room = swr_get_out_samples(resampler_.get(), count);
  if (room <= 0) return;
  const size_t before = out.size();
  out.resize(before + static_cast<size_t>(room));
  uint8_t* output = reinterpret_cast<uint8_t*>(out.data() + before);
  const int made = swr_convert(resampler_.get(), &output, room, input, count);
  if (made < 0) {
    out.resize(before);
    throw PlatformError("Cannot convert the audio of " + path_ + ": " + errorText(made));
  }
  out.resize(before + static_cast<size_t>(made));
}

}  // namespace ondevice::platform
