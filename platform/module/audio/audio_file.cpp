#include "platform/module/audio/audio_file.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/api/platform_error.h"
#include "platform/module/audio/audio_converter.h"
#include "platform/module/audio/audio_decoder.h"
#include "platform/module/audio/audio_demuxer.h"
#include "platform/module/audio/audio_limits.h"
#include "platform/module/format/recognition_format.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace ondevice::platform {
namespace {

// "24 hours", "90 s".
std::string lengthText(int64_t seconds) {
  if (seconds >= 3600 && seconds % 3600 == 0) return std::to_string(seconds / 3600) + " hours";
  return std::to_string(seconds) + " s";
}

// Demuxer, decoder and converter in a row, and where in the file the samples that came through
// lie. Audio that did not decode leaves a gap of silence, so that what follows keeps its time.
// Output is made a bounded piece at a time, in order: what the converter gave, the silence of a
// gap, the next stretch of the current frame, then the next frame.
class DecodedAudioFile final : public AudioFile {
 public:
  DecodedAudioFile(AudioSource source, const AudioLengthBounds& bounds)
      : path_(source.path), demuxer_(std::move(source)), decoder_(demuxer_), converter_(path_) {
    const AVStream& stream = demuxer_.stream();
    sourceRate_ = stream.codecpar->sample_rate;
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0 && stream.time_base.num > 0) {
      statedSamples_ = av_rescale_q(stream.duration, stream.time_base, AVRational{1, sourceRate_});
      paddingTolerance_ = 2 * std::max(decoder_.frameSize(), 1024);
    }
    jitterSamples_ = static_cast<int64_t>(std::ceil(kLargestTimestampJitterSeconds * sourceRate_));
    setLengthBound(bounds);
    // A file whose stream has packets of which not one decodes is not audio; one with no
    // packets at all is audio that happens to be empty.
    if (const AVFrame* first = decoder_.nextFrame()) {
      take(*first);
    } else if (decoder_.sawPackets()) {
      throw UndecodableAudioError("Cannot open audio file " + path_ +
                                  ": none of its audio decodes");
    }
  }

  bool read(std::vector<int16_t>& chunk) override {
    chunk.clear();
    for (;;) {
      handOut(chunk);
      if (!chunk.empty()) return true;
      if (!produce()) return false;
    }
  }

  std::optional<MediaTime> lastSampleTime() const override {
    const int64_t counted = countedSamples();
    if (counted == 0) return std::nullopt;
    return MediaTime{counted, sourceRate_};
  }

 private:
  // The most source samples the file may hold: the bounds' longest, or closer where the
  // container states its length. Every count here is far below int64_t's range once the stated
  // length is below the longest.
  void setLengthBound(const AudioLengthBounds& bounds) {
    mostSamples_ = bounds.longestSeconds * sourceRate_;
    lengthRefusal_ = "its audio goes on past " + lengthText(bounds.longestSeconds) +
                     ", the most one file may hold";
    if (!statedSamples_ || !demuxer_.statesLength() || *statedSamples_ >= mostSamples_) return;
    const int64_t stated = 2 * *statedSamples_ + bounds.statedLengthMarginSeconds * sourceRate_;
    if (stated >= mostSamples_) return;
    mostSamples_ = stated;
    lengthRefusal_ = "its audio goes on past twice the length of " +
                     lengthText((*statedSamples_ + sourceRate_ - 1) / sourceRate_) +
                     " that its container states";
  }

  // The samples that count, gaps included: up to the end of the last decoded sample, without
  // the padding of a last frame that goes past the container's stated length. A stated length
  // that falls short by more than a frame's padding is not believed (a damaged header) and
  // every decoded sample counts.
  int64_t countedSamples() const {
    if (statedSamples_ && position_ > *statedSamples_ &&
        position_ - *statedSamples_ <= paddingTolerance_) {
      return *statedSamples_;
    }
    return position_;
  }

  // 16 kHz samples that the counted source samples cover; never handing out more keeps every
  // utterance inside the file's duration.
  int64_t samplesCovered() const { return toRecognitionRate(countedSamples()); }

  int64_t toRecognitionRate(int64_t sourceSamples) const {
    return av_rescale_rnd(sourceSamples, kRecognitionSampleRate, sourceRate_, AV_ROUND_DOWN);
  }

  // Where `frame` starts by its timestamp, in source samples from the first frame; none when
  // it carries no timestamp.
  std::optional<int64_t> timestampPosition(const AVFrame& frame) {
    if (frame.best_effort_timestamp == AV_NOPTS_VALUE) return std::nullopt;
    const int64_t at = av_rescale_q(frame.best_effort_timestamp, demuxer_.stream().time_base,
                                    AVRational{1, sourceRate_});
    if (!origin_) origin_ = at - position_;
    return at - *origin_;
  }

  // Leaves silence for audio that did not decode before `frame`, when its timestamp says it
  // starts later than the audio so far ends. A jump further than the container's stated length
  // allows (or, without one, implausibly far) is a damaged timestamp and ignored. The silence
  // is only counted here and made a read at a time.
  void keepGapBefore(const AVFrame& frame) {
    const auto at = timestampPosition(frame);
    if (!at || *at <= position_ + jitterSamples_) return;
    const int64_t limit =
        statedSamples_
            ? *statedSamples_ + paddingTolerance_
            : position_ + static_cast<int64_t>(kLongestUncheckedGapSeconds * sourceRate_);
    if (*at > limit) return;
    converter_.restart(held_);
    const int64_t silenceEnd = toRecognitionRate(*at);
    const int64_t produced = samplesOut_ + static_cast<int64_t>(held_.size());
    silenceLeft_ = std::max<int64_t>(0, silenceEnd - produced);
    position_ = *at;
  }

  // Starts on `frame`: its gap first, then its samples, a stretch per produce().
  void take(const AVFrame& frame) {
    frame_ = nullptr;
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0) return;
    keepGapBefore(frame);
    position_ += frame.sample_rate == sourceRate_
                     ? frame.nb_samples
                     : av_rescale(frame.nb_samples, sourceRate_, frame.sample_rate);
    if (position_ > mostSamples_) {
      throw PlatformError("Cannot read " + path_ + ": " + lengthRefusal_);
    }
    frame_ = &frame;
    converted_ = 0;
  }

  // Adds the next piece of output to `held_`; false once the file is exhausted.
  bool produce() {
    if (silenceLeft_ > 0) {
      const int64_t count = std::min<int64_t>(silenceLeft_, kMostSamplesPerRead);
      held_.resize(held_.size() + static_cast<size_t>(count), 0);
      silenceLeft_ -= count;
    } else if (frame_ != nullptr && converted_ < frame_->nb_samples) {
      const int count = std::min(AudioConverter::stretchFor(*frame_, kMostSamplesPerRead),
                                 frame_->nb_samples - converted_);
      converter_.convert(*frame_, converted_, count, held_);
      converted_ += count;
    } else if (finished_) {
      held_.clear();  // what lies past the counted samples (a last frame's padding)
      return false;
    } else if (const AVFrame* frame = decoder_.nextFrame()) {
      take(*frame);
    } else {
      frame_ = nullptr;
      converter_.flush(held_);
      finished_ = true;
    }
    return true;
  }

  // Moves what may be handed out from `held_` into `chunk`, at most kMostSamplesPerRead.
  void handOut(std::vector<int16_t>& chunk) {
    const int64_t allowed = std::min<int64_t>(std::max<int64_t>(0, samplesCovered() - samplesOut_),
                                              kMostSamplesPerRead);
    const auto count = static_cast<size_t>(std::min<int64_t>(allowed, held_.size()));
    chunk.insert(chunk.end(), held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    samplesOut_ += static_cast<int64_t>(count);
  }

  std::string path_;
  AudioDemuxer demuxer_;
  AudioDecoder decoder_;  // reads from demuxer_
  AudioConverter converter_;

  int32_t sourceRate_ = 0;  // timescale of the last sample time
  // The end of the audio so far, in source samples from the start, gaps included.
  int64_t position_ = 0;
  // The timestamp, in source samples, that the first frame's start stands for.
  std::optional<int64_t> origin_;
  int64_t jitterSamples_ = 0;
  // The stream's length as the container states it, at sourceRate_. Codecs such as AAC decode
  // whole frames, so the last one carries padding that the container's length leaves out.
  std::optional<int64_t> statedSamples_;
  int64_t paddingTolerance_ = 0;
  // The most source samples the file may hold, and what the refusal past them says.
  int64_t mostSamples_ = 0;
  std::string lengthRefusal_;

  const AVFrame* frame_ = nullptr;  // the decoder's current frame, while it has samples left
  int converted_ = 0;               // of frame_'s samples
  int64_t silenceLeft_ = 0;         // 16 kHz samples of the current gap still to make
  int64_t samplesOut_ = 0;          // 16 kHz samples handed out so far
  std::vector<int16_t> held_;       // made, not yet handed out: about a read's worth
  bool finished_ = false;
};

}  // namespace

std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path,
                                                const AudioLengthBounds& bounds) {
  return std::make_unique<DecodedAudioFile>(AudioSource{path, UniqueFd()}, bounds);
}

std::unique_ptr<AudioFile> openDecodedAudioFile(AudioSource source,
                                                const AudioLengthBounds& bounds) {
  return std::make_unique<DecodedAudioFile>(std::move(source), bounds);
}

}  // namespace ondevice::platform
