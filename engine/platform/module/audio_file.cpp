#include "engine/platform/module/audio_file.h"

#include <algorithm>
#include <optional>

#include "engine/platform/module/audio_converter.h"
#include "engine/platform/module/audio_decoder.h"
#include "engine/platform/module/audio_demuxer.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace ondevice::platform {
namespace {

// Demuxer, decoder and converter in a row, and the count of the samples that came through.
class DecodedAudioFile final : public AudioFile {
 public:
  explicit DecodedAudioFile(const std::string& path)
      : demuxer_(path), decoder_(demuxer_), converter_(path) {
    const AVStream& stream = demuxer_.stream();
    sourceRate_ = stream.codecpar->sample_rate;
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0 && stream.time_base.num > 0) {
      statedSamples_ = av_rescale_q(stream.duration, stream.time_base, AVRational{1, sourceRate_});
      paddingTolerance_ = 2 * std::max(decoder_.frameSize(), 1024);
    }
  }

  bool read(std::vector<int16_t>& chunk) override {
    chunk.clear();
    while (chunk.empty()) {
      if (finished_) return false;
      if (const AVFrame* frame = decoder_.nextFrame()) {
        take(*frame);
        handOut(chunk);
      } else {
        converter_.flush(held_);
        handOut(chunk);
        held_.clear();
        finished_ = true;
      }
    }
    return true;
  }

  std::optional<MediaTime> lastSampleTime() const override {
    const int64_t counted = countedSamples();
    if (counted == 0) return std::nullopt;
    return MediaTime{counted, sourceRate_};
  }

 private:
  // The samples that count: those decoded, without the padding of a last frame that goes past
  // the container's stated length. A stated length that falls short by more than a frame's
  // padding is not believed (a damaged header) and every decoded sample counts.
  int64_t countedSamples() const {
    if (statedSamples_ && sourceSamples_ > *statedSamples_ &&
        sourceSamples_ - *statedSamples_ <= paddingTolerance_) {
      return *statedSamples_;
    }
    return sourceSamples_;
  }

  // 16 kHz samples that the counted source samples cover; never handing out more keeps every
  // utterance inside the file's duration.
  int64_t samplesCovered() const {
    return av_rescale_rnd(countedSamples(), kRecognitionSampleRate, sourceRate_, AV_ROUND_DOWN);
  }

  void take(const AVFrame& frame) {
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0) return;
    converter_.convert(frame, held_);
    sourceSamples_ += frame.sample_rate == sourceRate_
                          ? frame.nb_samples
                          : av_rescale(frame.nb_samples, sourceRate_, frame.sample_rate);
  }

  // Moves what may be handed out from `held_` into `chunk`.
  void handOut(std::vector<int16_t>& chunk) {
    const int64_t allowed = std::max<int64_t>(0, samplesCovered() - samplesOut_);
    const auto count = static_cast<size_t>(std::min<int64_t>(allowed, held_.size()));
    chunk.insert(chunk.end(), held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    samplesOut_ += static_cast<int64_t>(count);
  }

  AudioDemuxer demuxer_;
  AudioDecoder decoder_;  // reads from demuxer_
  AudioConverter converter_;

  int32_t sourceRate_ = 0;     // timescale of the last sample time
  int64_t sourceSamples_ = 0;  // decoded so far, counted at sourceRate_
  // The stream's length as the container states it, at sourceRate_. Codecs such as AAC decode
  // whole frames, so the last one carries padding that the container's length leaves out.
  std::optional<int64_t> statedSamples_;
  int64_t paddingTolerance_ = 0;
  int64_t samplesOut_ = 0;     // 16 kHz samples handed out so far
  std::vector<int16_t> held_;  // converted samples not yet handed out
  bool finished_ = false;
};

}  // namespace

std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path) {
  return std::make_unique<DecodedAudioFile>(path);
}

}  // namespace ondevice::platform
