#include "platform/module/audio/audio_converter.h"

#include <algorithm>

#include "platform/api/platform_error.h"
#include "platform/api/speech_platform.h"
#include "platform/module/audio/audio_limits.h"
#include "platform/module/format/recognition_format.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace ondevice::platform {

using namespace ffmpeg;

namespace {

// Sample `index` of `channel` as a float in [-1, 1], for every sample format FFmpeg decodes to.
float sampleAt(const AVFrame& frame, int channel, int index) {
  const auto format = static_cast<AVSampleFormat>(frame.format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int channels = frame.ch_layout.nb_channels;
  const uint8_t* plane = frame.extended_data[planar ? channel : 0];
  const size_t at = planar ? static_cast<size_t>(index)
                           : static_cast<size_t>(index) * static_cast<size_t>(channels) +
                                 static_cast<size_t>(channel);
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
      return (static_cast<float>(plane[at]) - 128.0f) / 128.0f;
    case AV_SAMPLE_FMT_S16:
      return static_cast<float>(reinterpret_cast<const int16_t*>(plane)[at]) / 32768.0f;
    case AV_SAMPLE_FMT_S32:
      return static_cast<float>(reinterpret_cast<const int32_t*>(plane)[at] / 2147483648.0);
    case AV_SAMPLE_FMT_S64:
      return static_cast<float>(static_cast<double>(reinterpret_cast<const int64_t*>(plane)[at]) /
                                9223372036854775808.0);
    case AV_SAMPLE_FMT_FLT:
      return reinterpret_cast<const float*>(plane)[at];
    case AV_SAMPLE_FMT_DBL:
      return static_cast<float>(reinterpret_cast<const double*>(plane)[at]);
    default:
      return 0.0f;
  }
}

// The mean of the frame's channels over samples `first` to `first + count`, one float each.
void averageChannels(const AVFrame& frame, int first, int count, std::vector<float>& mixed) {
  const int channels = frame.ch_layout.nb_channels;
  mixed.assign(static_cast<size_t>(count), 0.0f);
  for (int channel = 0; channel < channels; ++channel) {
    for (int i = 0; i < count; ++i) {
      mixed[static_cast<size_t>(i)] += sampleAt(frame, channel, first + i);
    }
  }
  const float scale = 1.0f / static_cast<float>(channels);
  for (float& sample : mixed) sample *= scale;
}

// A resampler from `input` to the recogniser's mono 16-bit samples, or null with the reason in
// `error`. SoX's resampler where FFmpeg was built with it (the one `sox` uses, so a
// telephone-rate file given directly is resampled as a file converted by sox first is), else
// FFmpeg's own. SoX's runs in floating point here: on 16-bit samples it adds dither seeded from
// the clock, and the same file gave different samples, and words, from one run to the next.
// Each try gets a context of its own: one whose swr_init failed frees its buffers again when
// initialised once more.
Resampler makeResampler(AVChannelLayout& input, AVSampleFormat format, int rate, int& error) {
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  for (const SwrEngine engine : {SWR_ENGINE_SOXR, SWR_ENGINE_SWR}) {
    SwrContext* raw = nullptr;
    error = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, kRecognitionSampleRate, &input,
                                format, rate, 0, nullptr);
    Resampler made(raw);
    if (error < 0) return nullptr;
    error = av_opt_set_int(made.get(), "resampler", engine, 0);
    if (error >= 0 && engine == SWR_ENGINE_SOXR) {
      error = av_opt_set_sample_fmt(made.get(), "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0);
    }
    if (error >= 0) error = swr_init(made.get());
    if (error >= 0) return made;
  }
  return nullptr;
}

}  // namespace

void AudioConverter::convert(const AVFrame& frame, int first, int count,
                             std::vector<int16_t>& out) {
  if (frame.sample_rate > kHighestSampleRate || frame.sample_rate < kLowestSampleRate) {
    throw PlatformError("Cannot convert the audio of " + path_ + ": a sample rate of " +
                        std::to_string(frame.sample_rate) + " Hz is not audio");
  }
  if (!fits(frame)) {
    flush(out);
    remake(frame);
  }
  if (averagesChannels_) {
    averageChannels(frame, first, count, mixed_);
    const auto* samples = reinterpret_cast<const uint8_t*>(mixed_.data());
    run(&samples, count, out);
    return;
  }
  const auto format = static_cast<AVSampleFormat>(frame.format);
  const auto bytes = static_cast<size_t>(av_get_bytes_per_sample(format));
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int channels = frame.ch_layout.nb_channels;
  const size_t offset = static_cast<size_t>(first) * bytes *
                        (planar ? 1 : static_cast<size_t>(std::max(channels, 1)));
  planes_.resize(planar ? static_cast<size_t>(channels) : 1);
  for (size_t plane = 0; plane < planes_.size(); ++plane) {
    planes_[plane] = frame.extended_data[plane] + offset;
  }
  run(planes_.data(), count, out);
}

int AudioConverter::stretchFor(const AVFrame& frame, int samples) {
  const int64_t stretch = av_rescale(samples, frame.sample_rate, kRecognitionSampleRate);
  return static_cast<int>(std::clamp<int64_t>(stretch, 1, std::max(frame.nb_samples, 1)));
}

void AudioConverter::flush(std::vector<int16_t>& out) {
  if (resampler_) run(nullptr, 0, out);
}

void AudioConverter::restart(std::vector<int16_t>& out) {
  flush(out);
  resampler_.reset();
}

bool AudioConverter::fits(const AVFrame& frame) const {
  return resampler_ && rate_ == frame.sample_rate && format_ == frame.format &&
         av_channel_layout_compare(&*layout_, &frame.ch_layout) == 0;
}

void AudioConverter::remake(const AVFrame& frame) {
  // The layout to mix down from: the frame's own, else the usual one for its channel count.
  const int channels = std::max(frame.ch_layout.nb_channels, 1);
  ChannelLayout input;
  if (frame.ch_layout.nb_channels > 0 && frame.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
    input.copyFrom(frame.ch_layout);
  } else {
    input.setDefault(channels);
  }
  // Without a layout the resampler refuses to mix, and some it will not mix (a left channel
  // without its right); every channel then counts the same.
  bool averages = input->order == AV_CHANNEL_ORDER_UNSPEC && channels > 1;
  AVSampleFormat format = static_cast<AVSampleFormat>(frame.format);
  int error = 0;
  Resampler made;
  if (!averages) {
    made = makeResampler(*input.get(), format, frame.sample_rate, error);
    averages = !made && channels > 1;
  }
  if (averages) {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    format = AV_SAMPLE_FMT_FLT;
    made = makeResampler(mono, format, frame.sample_rate, error);
  }
  if (!made) {
    throw PlatformError("Cannot convert the audio of " + path_ + ": " + errorText(error));
  }
  resampler_ = std::move(made);
  rate_ = frame.sample_rate;
  format_ = frame.format;
  averagesChannels_ = averages;
  layout_.copyFrom(frame.ch_layout);
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
