#include "platform/module/audio/voice_activity_detector.h"

#include <algorithm>
#include <cmath>

#include "platform/module/audio/frame_level.h"

namespace ondevice::platform {
namespace {

constexpr int64_t kFrameSamples = kRecognitionFrameSamples;
constexpr double kBinDb = 0.5;
constexpr int kBins = 240;  // 0 .. 120 dB; 16-bit audio peaks near 90 dB
// Silence before the current frame is only dropped in batches of this many frames, so that the
// buffer is not shifted for every frame.
constexpr int64_t kDropBatchFrames = 500;

int binOf(double levelDb) { return std::clamp(static_cast<int>(levelDb / kBinDb), 0, kBins - 1); }

}  // namespace

VoiceActivityDetector::VoiceActivityDetector(VoiceActivitySettings settings)
    : settings_(settings),
      recent_(static_cast<size_t>(settings.startWindowFrames), false),
      levelCounts_(kBins, 0) {
  levelBins_.reserve(static_cast<size_t>(settings.floorWindowFrames));
}

// The level under which floorQuantile of the recent frames lie, this frame included.
double VoiceActivityDetector::backgroundDb(double levelDb) {
  const int bin = binOf(levelDb);
  const auto window = static_cast<size_t>(settings_.floorWindowFrames);
  const size_t slot = static_cast<size_t>(framesSeen_ - 1) % window;
  if (levelBins_.size() < window) {
    levelBins_.push_back(bin);
  } else {
    --levelCounts_[static_cast<size_t>(levelBins_[slot])];
    levelBins_[slot] = bin;
  }
  ++levelCounts_[static_cast<size_t>(bin)];

  const auto wanted =
      static_cast<int>(settings_.floorQuantile * static_cast<double>(levelBins_.size()));
  int below = 0;
  for (int b = 0; b < kBins; ++b) {
    below += levelCounts_[static_cast<size_t>(b)];
    if (below > wanted) return (b + 1) * kBinDb;
  }
  return kBins * kBinDb;
}

void VoiceActivityDetector::push(std::span<const int16_t> samples, const Sink& sink) {
  buffer_.insert(buffer_.end(), samples.begin(), samples.end());
  const auto frame = static_cast<size_t>(kFrameSamples);
  while (static_cast<size_t>(framesSeen_ - bufferStartFrame_ + 1) * frame <= buffer_.size()) {
    const size_t offset = static_cast<size_t>(framesSeen_ - bufferStartFrame_) * frame;
    levels_.push_back(frameLevelDb(std::span(buffer_).subspan(offset, frame)));
    ++framesSeen_;
    onFrame(sink);
  }
}

void VoiceActivityDetector::onFrame(const Sink& sink) {
  const int64_t current = framesSeen_ - 1;
  const double level = levels_.back();
  const double background = backgroundDb(level);
  const bool speech =
      level > background + settings_.speechAboveFloorDb && level > settings_.quietestSpeechDb;

  const auto window = static_cast<size_t>(settings_.startWindowFrames);
  const size_t slot = static_cast<size_t>(current) % window;
  recentSpeech_ += static_cast<int>(speech) - static_cast<int>(recent_[slot]);
  recent_[slot] = speech;

  if (!inSpeech_) {
    if (recentSpeech_ >= settings_.startSpeechFrames) {
      // Starts at the window's first speech frame, with some lead-in before it.
      int64_t firstSpeech = current;
      for (int64_t frame = std::max<int64_t>(0, current - settings_.startWindowFrames + 1);
           frame <= current; ++frame) {
        if (recent_[static_cast<size_t>(frame) % window]) {
          firstSpeech = frame;
          break;
        }
      }
      inSpeech_ = true;
      handOutHeld(sink);
      utteranceStartFrame_ =
          std::max({firstSpeech - settings_.leadFrames, previousEndFrame_, bufferStartFrame_});
      lastSpeechFrame_ = current;
    } else {
      dropBefore(std::max(previousEndFrame_,
                          current + 1 - settings_.startWindowFrames - settings_.leadFrames));
    }
    return;
  }

  if (speech) lastSpeechFrame_ = current;
  const int64_t silence = current - lastSpeechFrame_;
  const int64_t length = current + 1 - utteranceStartFrame_;
  if (silence >= settings_.endSilenceFrames ||
      (length >= settings_.softMaxFrames && silence >= settings_.softEndSilenceFrames)) {
    const int64_t end = std::min(lastSpeechFrame_ + 1 + settings_.trailFrames, current + 1);
    emit(end * kFrameSamples,
         silence >= settings_.endSilenceFrames ? UtteranceEnd::pause : UtteranceEnd::pauseWhenLong,
         sink);
    inSpeech_ = false;
  } else if (length >= settings_.hardMaxFrames) {
    // No pause long enough: cut at the quietest recent frame and carry on from there.
    const int64_t cut = quietestFrame(
        std::max(utteranceStartFrame_ + 1, current + 1 - settings_.hardCutSearchFrames),
        current + 1);
    emit(cut * kFrameSamples, UtteranceEnd::cut, sink);
    utteranceStartFrame_ = cut;
  }
}

void VoiceActivityDetector::finish(const Sink& sink) {
  if (!inSpeech_) {
    if (held_) held_->end = UtteranceEnd::endOfStream;
    handOutHeld(sink);
    return;
  }
  const int64_t bufferEnd =
      bufferStartFrame_ * kFrameSamples + static_cast<int64_t>(buffer_.size());
  const int64_t trailEnd = (lastSpeechFrame_ + 1 + settings_.trailFrames) * kFrameSamples;
  emit(std::min(trailEnd, bufferEnd), UtteranceEnd::endOfStream, sink);
  inSpeech_ = false;
}

void VoiceActivityDetector::emit(int64_t endSample, UtteranceEnd end, const Sink& sink) {
  const int64_t bufferStartSample = bufferStartFrame_ * kFrameSamples;
  const int64_t startSample = utteranceStartFrame_ * kFrameSamples;
  previousEndFrame_ = (endSample + kFrameSamples - 1) / kFrameSamples;
  if (endSample <= startSample) return;  // a cut left nothing but silence behind it
  Utterance utterance;
  utterance.startSample = startSample;
  utterance.end = end;
  utterance.samples.assign(buffer_.begin() + (startSample - bufferStartSample),
                           buffer_.begin() + (endSample - bufferStartSample));
  dropBefore(endSample / kFrameSamples);
  handOutHeld(sink);
  if (end == UtteranceEnd::pause || end == UtteranceEnd::pauseWhenLong) {
    held_ = std::move(utterance);
  } else {
    sink(std::move(utterance));
  }
}

void VoiceActivityDetector::handOutHeld(const Sink& sink) {
  if (!held_) return;
  Utterance utterance = std::move(*held_);
  held_.reset();
  sink(std::move(utterance));
}

void VoiceActivityDetector::dropBefore(int64_t frame) {
  const int64_t count = std::min(frame, framesSeen_) - bufferStartFrame_;
  if (count <= 0) return;
  // During silence only in batches; after an utterance, at once (its samples are gone).
  if (!inSpeech_ && count < kDropBatchFrames) return;
  buffer_.erase(buffer_.begin(), buffer_.begin() + count * kFrameSamples);
  levels_.erase(levels_.begin(), levels_.begin() + count);
  bufferStartFrame_ += count;
}

int64_t VoiceActivityDetector::quietestFrame(int64_t from, int64_t to) const {
  int64_t quietest = from;
  for (int64_t frame = from; frame < to; ++frame) {
    if (levels_[static_cast<size_t>(frame - bufferStartFrame_)] <=
        levels_[static_cast<size_t>(quietest - bufferStartFrame_)]) {
      quietest = frame;
    }
  }
  return quietest;
}

}  // namespace ondevice::platform
