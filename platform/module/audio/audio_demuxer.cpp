#include "platform/module/audio/audio_demuxer.h"

#include <algorithm>
#include <string_view>

#include "platform/api/platform_error.h"
#include "platform/module/audio/audio_limits.h"
#include "platform/module/audio/wav_data_extent.h"

namespace ondevice::platform {
namespace {

using namespace ffmpeg;

// What FFmpeg finds in the file decides whether it is audio. FFmpeg's own allocations are capped
// (setUpFFmpeg), so one it cannot make is a file asking for more than audio needs, and is
// refused like the rest.
[[noreturn]] void fail(const std::string& path, const std::string& why) {
  throw UndecodableAudioError("Cannot open audio file " + path + ": " + why);
}

// Demuxers whose sound is no recording, refused by name before they read the file.
//
// Those that hand the file to another library to play: game music (libgme) and tracker modules
// (libopenmpt, libmodplug). Those libraries are not made to read hostile files (a damaged game
// music file faults inside libgme), and a game's music may loop forever.
//
// Those that synthesize sound from a description rather than decode recorded samples. Of the
// demuxers in Debian 12's libavformat (5.1) that is sbg alone: it reads an SBaGen schedule of
// binaural tones, and FFmpeg's wavesynth decoder makes the sound, for up to a day from a few
// dozen bytes. (No other container can carry wavesynth: no muxer has a tag for it.) The rest
// read samples or a codec's frames: MIDI sample dumps (sds), ringtones (mmf), vocoded speech
// (codec2) and game audio with loop points (brstm, ads, genh, ...) included, whose loops FFmpeg
// does not follow. lavfi, whose sources synthesize tones and noise, is an input device of
// libavdevice, which the module neither links nor registers, so no probe finds it.
struct NoRecording {
  std::string_view demuxer;
  std::string_view what;  // what the file is instead
};
constexpr NoRecording kNoRecordings[] = {
    {"libgme", "music for libgme to play"},
    {"libopenmpt", "music for libopenmpt to play"},
    {"libmodplug", "music for libmodplug to play"},
    {"sbg", "an SBaGen schedule for FFmpeg to synthesize sound from"},
};

// The demuxer FFmpeg finds for the file, when it is one a recording may come in.
const AVInputFormat* probedFormat(const std::string& path, const std::string& url,
                                  AVIOContext* input) {
  const AVInputFormat* format = nullptr;
  const int result = av_probe_input_buffer2(input, &format, url.c_str(), nullptr, 0, 0);
  if (result < 0) fail(path, errorText(result));
  const auto refused =
      std::ranges::find(kNoRecordings, std::string_view(format->name), &NoRecording::demuxer);
  if (refused != std::end(kNoRecordings)) {
    fail(path, "it is " + std::string(refused->what) + ", not a recording");
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
  // Samples after a WAV's stated data, where no chunk follows it, are the rest of the recording.
  const bool wavRunsOn =
      std::string_view(format->name) == "wav" && wavSamplesRunPastDataChunk(input_);
  if (wavRunsOn) av_dict_set(&rawOptions, "ignore_length", "1", 0);
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
  // The data chunk's size still gives the stream a length, one the file is known to outrun.
  if (wavRunsOn) format_->streams[streamIndex_]->duration = AV_NOPTS_VALUE;

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
