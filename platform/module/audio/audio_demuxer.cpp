#include "platform/module/audio/audio_demuxer.h"

#include <algorithm>
#include <string_view>

#include "platform/api/platform_error.h"
#include "platform/module/audio/audio_limits.h"

namespace ondevice::platform {
namespace {

using namespace ffmpeg;

// What FFmpeg finds in the file decides whether it is audio. FFmpeg's own allocations are capped
// (setUpFFmpeg), so one it cannot make is a file asking for more than audio needs, and is
// refused like the rest.
[[noreturn]] void fail(const std::string& path, const std::string& why) {
  throw UndecodableAudioError("Cannot open audio file " + path + ": " + why);
}

// Demuxers that hand the file to another library to play: game music (libgme) and tracker
// modules (libopenmpt, libmodplug). Neither is a recording, and those libraries are not made to
// read hostile files (a damaged game music file faults inside libgme), so they are never given
// one.
constexpr std::string_view kPlayedElsewhere[] = {"libgme", "libopenmpt", "libmodplug"};

// The demuxer FFmpeg finds for the file, when it is one a recording may come in.
const AVInputFormat* probedFormat(const std::string& path, const std::string& url,
                                  AVIOContext* input) {
  const AVInputFormat* format = nullptr;
  const int result = av_probe_input_buffer2(input, &format, url.c_str(), nullptr, 0, 0);
  if (result < 0) fail(path, errorText(result));
  const std::string_view name = format->name;
  if (std::ranges::find(kPlayedElsewhere, name) != std::end(kPlayedElsewhere)) {
    fail(path, "it is music for " + std::string(name) + " to play, not a recording");
  }
  return format;
}

}  // namespace

AudioDemuxer::AudioDemuxer(AudioSource source) : path_(source.path), input_(std::move(source)) {
  const std::string& path = path_;
  // The file is opened by input_, not by the demuxer, and the demuxer may open no protocol at
  // all: playlists, concatenation lists and references inside containers name other files,
  // which an audio file never needs, and a FIFO named there would block the tool, a device named
  // there feed it forever. The URL only names the file for format probing; the "file:" prefix
  // keeps a colon in the name from looking like a protocol.
  const std::string url = "file:" + path;
  const AVInputFormat* format = probedFormat(path, url, input_.context());
  AVFormatContext* rawFormat = avformat_alloc_context();
  if (rawFormat == nullptr) {
    throw PlatformError("Cannot open audio file " + path + ": out of memory");
  }
  rawFormat->pb = input_.context();
  AVDictionary* rawOptions = nullptr;
  av_dict_set(&rawOptions, "protocol_whitelist", "none", 0);  // matches no protocol
  int result = avformat_open_input(&rawFormat, url.c_str(), format, &rawOptions);
  const Dictionary unusedOptions(rawOptions);
  if (result < 0) fail(path, errorText(result));  // FFmpeg frees the context on failure
  format_.reset(rawFormat);

  result = avformat_find_stream_info(format_.get(), nullptr);
  if (result < 0) fail(path, errorText(result));

  result = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder_, 0);
  if (result == AVERROR_STREAM_NOT_FOUND) fail(path, "it holds no audio stream");
  if (result < 0 || decoder_ == nullptr) fail(path, "no decoder for its audio");
  streamIndex_ = result;
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if (static_cast<int>(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
  }

  const AVCodecParameters& parameters = *stream().codecpar;
  if (parameters.sample_rate <= 0 || parameters.ch_layout.nb_channels <= 0) {
    fail(path, "its audio stream has no sample rate or no channels");
  }
  if (parameters.sample_rate > kHighestSampleRate || parameters.sample_rate < kLowestSampleRate) {
    fail(path, "its sample rate of " + std::to_string(parameters.sample_rate) + " Hz is not audio");
  }
}

bool AudioDemuxer::statesLength() const {
  const AVStream& audio = stream();
  return audio.duration != AV_NOPTS_VALUE && audio.duration > 0 && audio.time_base.num > 0 &&
         format_->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
}

bool AudioDemuxer::nextPacket(AVPacket& packet) {
  for (;;) {
    const int result = av_read_frame(format_.get(), &packet);
    if (result == AVERROR_EOF || result == AVERROR_INVALIDDATA) return false;
    if (result < 0) throw PlatformError("Cannot read " + path_ + ": " + errorText(result));
    if (packet.stream_index == streamIndex_) return true;
    av_packet_unref(&packet);
  }
}

}  // namespace ondevice::platform
