#include "engine/platform/module/audio_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "engine/platform/module/ffmpeg_handles.h"
#include "engine/platform/platform_error.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace ondevice::platform {
namespace {

using namespace ffmpeg;

// Broken frames in a row that are skipped; past them the audio ends there, so that a decoder
// stuck on bad data cannot keep the read going.
constexpr int kMostBrokenFrames = 64;

void silenceFFmpeg() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// FFmpeg sizes some buffers from lengths in the file's headers: a 120-byte WAV whose INFO chunk
// claims 1.6 GB made the demuxer allocate and zero that much before failing. No block that audio
// needs comes near this, so a larger request fails and the file is refused.
void limitFFmpegAllocations() {
  static std::once_flag once;
  std::call_once(once, [] { av_max_alloc(256 * 1024 * 1024); });
}

[[noreturn]] void fail(const std::string& path, const std::string& why) {
  throw PlatformError("Cannot open audio file " + path + ": " + why);
}

// Refuses anything but a non-empty regular file before FFmpeg opens it for reading: opening a
// FIFO without writer would block forever, and a directory or device is never audio.
void requireRegularFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) fail(path, std::strerror(errno));
  if (S_ISDIR(status.st_mode)) fail(path, "it is a directory");
  if (!S_ISREG(status.st_mode)) fail(path, "it is not a regular file");
  if (status.st_size == 0) fail(path, "the file is empty");
}

// Far above any audio format's rate (768 kHz is the highest in use). The resampler's cost grows
// with the rate: a few hundred bytes of WAV claiming 1 GHz would make it take a gigabyte of
// memory and seconds of work before producing one sample.
constexpr int kHighestSampleRate = 1000000;

struct IOContextCloser {
  void operator()(AVIOContext* context) const noexcept { avio_closep(&context); }
};
using IOContext = std::unique_ptr<AVIOContext, IOContextCloser>;

}  // namespace

struct DecodedAudioFile::Stream {
  std::string path;
  IOContext io;  // outlives `format`, which reads through it
  FormatContext format;
  CodecContext codec;
  int streamIndex = -1;
  Packet packet{av_packet_alloc()};
  Frame frame{av_frame_alloc()};

  // The resampler is made from the first decoded frame, whose layout is authoritative, and
  // made again should a later frame change format, rate or layout.
  Resampler resampler;
  int resamplerRate = 0;
  int resamplerFormat = -1;
  AVChannelLayout resamplerLayout{};

  int32_t sourceRate = 0;     // timescale of the last sample time
  int64_t sourceSamples = 0;  // decoded so far, counted at sourceRate
  // The stream's length as the container states it, at sourceRate. Codecs such as AAC decode
  // whole frames, so the last one carries padding that the container's length leaves out.
  std::optional<int64_t> statedSamples;
  int64_t paddingTolerance = 0;
  int64_t samplesOut = 0;     // 16 kHz samples handed out so far
  std::vector<int16_t> held;  // converted samples not yet handed out
  bool demuxerDone = false;
  bool finished = false;
  int brokenFrames = 0;        // in a row
  bool packetPending = false;  // read, but the decoder had no room for it yet

  ~Stream() { av_channel_layout_uninit(&resamplerLayout); }

  // The samples that count: those decoded, without the padding of a last frame that goes past
  // the container's stated length. A stated length that falls short by more than a frame's
  // padding is not believed (a damaged header) and every decoded sample counts.
  int64_t countedSamples() const {
    if (statedSamples && sourceSamples > *statedSamples &&
        sourceSamples - *statedSamples <= paddingTolerance) {
      return *statedSamples;
    }
    return sourceSamples;
  }

  // 16 kHz samples that the counted source samples cover; never handing out more keeps every
  // utterance inside the file's duration.
  int64_t samplesCovered() const {
    return av_rescale_rnd(countedSamples(), kRecognitionSampleRate, sourceRate, AV_ROUND_DOWN);
  }

  void makeResampler(const AVFrame& input) {
    AVChannelLayout inputLayout{};
    if (input.ch_layout.nb_channels > 0 && input.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_copy(&inputLayout, &input.ch_layout);
    } else {
      av_channel_layout_default(&inputLayout, std::max(input.ch_layout.nb_channels, 1));
    }
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* raw = nullptr;
    int result = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, kRecognitionSampleRate,
                                     &inputLayout, static_cast<AVSampleFormat>(input.format),
                                     input.sample_rate, 0, nullptr);
    Resampler made(raw);
    if (result >= 0) result = swr_init(made.get());
    if (result < 0) {
      av_channel_layout_uninit(&inputLayout);
      throw PlatformError("Cannot convert the audio of " + path + ": " + errorText(result));
    }
    resampler = std::move(made);
    resamplerRate = input.sample_rate;
    resamplerFormat = input.format;
    av_channel_layout_uninit(&resamplerLayout);
    resamplerLayout = inputLayout;
  }

  bool resamplerFits(const AVFrame& input) const {
    return resampler && resamplerRate == input.sample_rate && resamplerFormat == input.format &&
           av_channel_layout_compare(&resamplerLayout, &input.ch_layout) == 0;
  }

  // Runs `count` input samples (or the resampler's tail, when `input` is null) into `held`.
  void convert(const uint8_t** input, int count) {
    const int room = swr_get_out_samples(resampler.get(), count);
    if (room <= 0) return;
    const size_t before = held.size();
    held.resize(before + static_cast<size_t>(room));
    uint8_t* output = reinterpret_cast<uint8_t*>(held.data() + before);
    const int made = swr_convert(resampler.get(), &output, room, input, count);
    if (made < 0) {
      held.resize(before);
      throw PlatformError("Cannot convert the audio of " + path + ": " + errorText(made));
    }
    held.resize(before + static_cast<size_t>(made));
  }

  void flushResampler() {
    if (resampler) convert(nullptr, 0);
  }

  void take(const AVFrame& decoded) {
    if (decoded.nb_samples <= 0 || decoded.sample_rate <= 0) return;
    if (decoded.sample_rate > kHighestSampleRate) {
      throw PlatformError("Cannot convert the audio of " + path + ": a sample rate of " +
                          std::to_string(decoded.sample_rate) + " Hz is not audio");
    }
    if (!resamplerFits(decoded)) {
      flushResampler();
      makeResampler(decoded);
    }
    sourceSamples += decoded.sample_rate == sourceRate
                         ? decoded.nb_samples
                         : av_rescale(decoded.nb_samples, sourceRate, decoded.sample_rate);
    convert(const_cast<const uint8_t**>(decoded.extended_data), decoded.nb_samples);
  }

  // Moves what may be handed out from `held` into `chunk`.
  void handOut(std::vector<int16_t>& chunk) {
    const int64_t allowed = std::max<int64_t>(0, samplesCovered() - samplesOut);
    const size_t count = static_cast<size_t>(std::min<int64_t>(allowed, held.size()));
    chunk.insert(chunk.end(), held.begin(), held.begin() + static_cast<std::ptrdiff_t>(count));
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(count));
    samplesOut += static_cast<int64_t>(count);
  }

  // Feeds the decoder the next packet of our stream; at the end of the input, drains it.
  void feedDecoder() {
    while (true) {
      if (!packetPending) {
        const int result = av_read_frame(format.get(), packet.get());
        // A truncated or damaged tail ends the audio where it breaks, as a player would.
        if (result == AVERROR_EOF || result == AVERROR_INVALIDDATA) {
          demuxerDone = true;
          avcodec_send_packet(codec.get(), nullptr);
          return;
        }
        if (result < 0) throw PlatformError("Cannot read " + path + ": " + errorText(result));
        if (packet->stream_index != streamIndex) {
          av_packet_unref(packet.get());
          continue;
        }
      }
      const int sent = avcodec_send_packet(codec.get(), packet.get());
      packetPending = sent == AVERROR(EAGAIN);  // offered again once frames are taken out
      if (packetPending) return;
      av_packet_unref(packet.get());
      if (sent == AVERROR_INVALIDDATA) continue;  // skip a corrupt packet
      if (sent < 0) throw PlatformError("Cannot decode " + path + ": " + errorText(sent));
      return;
    }
  }

  bool read(std::vector<int16_t>& chunk) {
    chunk.clear();
    while (chunk.empty()) {
      if (finished) return false;
      const int result = avcodec_receive_frame(codec.get(), frame.get());
      if (result == 0) {
        brokenFrames = 0;
        take(*frame);
        av_frame_unref(frame.get());
        handOut(chunk);
      } else if (result == AVERROR(EAGAIN) && !demuxerDone) {
        feedDecoder();
      } else if (result == AVERROR_INVALIDDATA && ++brokenFrames <= kMostBrokenFrames) {
        continue;  // the decoder dropped what it could not reconstruct; the next may be fine
      } else if (result == AVERROR_EOF || result == AVERROR(EAGAIN) ||
                 result == AVERROR_INVALIDDATA) {
        flushResampler();
        handOut(chunk);
        held.clear();
        finished = true;
      } else {
        throw PlatformError("Cannot decode " + path + ": " + errorText(result));
      }
    }
    return true;
  }
};

DecodedAudioFile::DecodedAudioFile(std::unique_ptr<Stream> stream) : stream_(std::move(stream)) {}
DecodedAudioFile::~DecodedAudioFile() = default;

bool DecodedAudioFile::read(std::vector<int16_t>& chunk) { return stream_->read(chunk); }

std::optional<MediaTime> DecodedAudioFile::lastSampleTime() const {
  const int64_t counted = stream_->countedSamples();
  if (counted == 0) return std::nullopt;
  return MediaTime{counted, stream_->sourceRate};
}

const std::string& DecodedAudioFile::path() const { return stream_->path; }

std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path) {
  silenceFFmpeg();
  limitFFmpegAllocations();
  requireRegularFile(path);

  auto stream = std::make_unique<DecodedAudioFile::Stream>();
  stream->path = path;
  if (!stream->packet || !stream->frame) fail(path, "out of memory");

  // The file is opened here, not by the demuxer, and the demuxer may open no protocol at all:
  // playlists, concatenation lists and references inside containers name other files, which an
  // audio file never needs, and a FIFO named there would block the tool, a device named there
  // feed it forever. The "file:" prefix keeps a colon in the name from selecting a protocol.
  const std::string url = "file:" + path;
  AVIOContext* rawIO = nullptr;
  int result = avio_open2(&rawIO, url.c_str(), AVIO_FLAG_READ, nullptr, nullptr);
  if (result < 0) fail(path, errorText(result));
  stream->io.reset(rawIO);

  AVFormatContext* rawFormat = avformat_alloc_context();
  if (rawFormat == nullptr) fail(path, "out of memory");
  rawFormat->pb = stream->io.get();
  AVDictionary* rawOptions = nullptr;
  av_dict_set(&rawOptions, "protocol_whitelist", "none", 0);  // matches no protocol
  std::unique_ptr<AVDictionary, DictionaryFreer> options(rawOptions);
  AVDictionary* optionsIn = options.release();
  result = avformat_open_input(&rawFormat, url.c_str(), nullptr, &optionsIn);
  options.reset(optionsIn);
  if (result < 0) fail(path, errorText(result));  // FFmpeg frees the context on failure
  stream->format.reset(rawFormat);

  result = avformat_find_stream_info(stream->format.get(), nullptr);
  if (result < 0) fail(path, errorText(result));

  const AVCodec* decoder = nullptr;
  result = av_find_best_stream(stream->format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (result == AVERROR_STREAM_NOT_FOUND) fail(path, "it holds no audio stream");
  if (result < 0 || decoder == nullptr) fail(path, "no decoder for its audio");
  stream->streamIndex = result;
  for (unsigned i = 0; i < stream->format->nb_streams; ++i) {
    if (static_cast<int>(i) != stream->streamIndex) {
      stream->format->streams[i]->discard = AVDISCARD_ALL;
    }
  }

  const AVCodecParameters* parameters = stream->format->streams[stream->streamIndex]->codecpar;
  if (parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0) {
    fail(path, "its audio stream has no sample rate or no channels");
  }
  if (parameters->sample_rate > kHighestSampleRate) {
    fail(path,
         "its sample rate of " + std::to_string(parameters->sample_rate) + " Hz is not audio");
  }
  stream->codec.reset(avcodec_alloc_context3(decoder));
  if (!stream->codec) fail(path, "out of memory");
  result = avcodec_parameters_to_context(stream->codec.get(), parameters);
  if (result >= 0) result = avcodec_open2(stream->codec.get(), decoder, nullptr);
  if (result < 0) fail(path, errorText(result));
  stream->sourceRate = parameters->sample_rate;
  const AVStream& audio = *stream->format->streams[stream->streamIndex];
  if (audio.duration != AV_NOPTS_VALUE && audio.duration > 0 && audio.time_base.num > 0) {
    stream->statedSamples =
        av_rescale_q(audio.duration, audio.time_base, AVRational{1, stream->sourceRate});
    stream->paddingTolerance = 2 * std::max(stream->codec->frame_size, 1024);
  }

  return std::unique_ptr<AudioFile>(new DecodedAudioFile(std::move(stream)));
}

}  // namespace ondevice::platform
