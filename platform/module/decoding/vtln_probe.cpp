#include "platform/module/decoding/vtln_probe.h"

namespace ondevice::platform {

bool VtlnProbe::admit(int64_t samples) {
  if (!open_) return false;
  ++utterances_;
  samples_ += samples;
  if (utterances_ >= kProbeUtterances || samples_ >= kProbeSamples) open_ = false;
  return true;
}

FrequencyWarp chooseFrequencyWarp(std::span<const ProbeReadings> readings) {
  int64_t gain = 0;
  int64_t frames = 0;
  for (const ProbeReadings& utterance : readings) {
    if (utterance.plainScore && utterance.raisedScore) {
      gain += *utterance.raisedScore - *utterance.plainScore;
      frames += utterance.frames;
    }
  }
  return gain > kRaisedGainPerFrame * frames ? FrequencyWarp::raised : FrequencyWarp::none;
}

}  // namespace ondevice::platform
