#include "platform/module/decoding/feature_extractor.h"

#include <sphinxbase/feat.h>

#include "platform/api/platform_error.h"
#include "platform/module/decoding/front_end.h"

namespace ondevice::platform {
namespace {

struct FeatureTypeFree {
  void operator()(feat_t* type) const noexcept { feat_free(type); }
};
struct FeatureArrayFree {
  void operator()(mfcc_t*** array) const noexcept { feat_array_free(array); }
};

}  // namespace

struct FeatureExtractor::Handles {
  RecogniserSettings settings;
  FrontEnd frontEnd;
  std::unique_ptr<feat_t, FeatureTypeFree> type;
  Cepstra cepstra;
};

FeatureExtractor::FeatureExtractor(const ModelFiles& model, FrequencyWarp warp)
    : handles_(std::make_unique<Handles>()) {
  handles_->settings = settingsFor(model, true);
  if (!handles_->settings) throw PlatformError("The speech recogniser rejected its settings");
  cmd_ln_t* settings = handles_->settings.get();
  {
    const auto oneAtATime = frontEndsAreMadeOneAtATime();
    handles_->frontEnd = makeFrontEnd(settings, warp);
  }
  if (handles_->frontEnd) {
    handles_->type.reset(feat_init(
        cmd_ln_str_r(settings, "-feat"), cmn_type_from_str(cmd_ln_str_r(settings, "-cmn")),
        cmd_ln_boolean_r(settings, "-varnorm"), agc_type_from_str(cmd_ln_str_r(settings, "-agc")),
        FALSE, cmd_ln_int32_r(settings, "-ceplen")));
  }
  if (!handles_->frontEnd || !handles_->type || feat_dimension1(handles_->type.get()) != 1) {
    throw PlatformError("The speech recogniser rejected its settings");
  }
}

FeatureExtractor::~FeatureExtractor() = default;

int FeatureExtractor::width() const { return feat_dimension(handles_->type.get()); }

std::vector<float> FeatureExtractor::features(std::span<const int16_t> samples) {
  int32 frames = computeCepstra(handles_->frontEnd.get(), samples, handles_->cepstra);
  if (frames < 0) throw PlatformError("The speech recogniser failed to read the audio");
  std::vector<float> out;
  if (frames == 0) return out;
  std::unique_ptr<mfcc_t**, FeatureArrayFree> array(
      feat_array_alloc(handles_->type.get(), frames + feat_window_size(handles_->type.get())));
  int32 consumed = frames;
  const int32 made = feat_s2mfc2feat_live(handles_->type.get(), handles_->cepstra.rows.data(),
                                          &consumed, TRUE, TRUE, array.get());
  const auto width = static_cast<size_t>(this->width());
  out.reserve(static_cast<size_t>(made) * width);
  for (int32 frame = 0; frame < made; ++frame) {
    const mfcc_t* row = array.get()[frame][0];
    out.insert(out.end(), row, row + width);
  }
  return out;
}

}  // namespace ondevice::platform
