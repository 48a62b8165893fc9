#include "platform/module/service/warm_models.h"

#include "platform/api/platform_error.h"
#include "platform/contract/model_identity.h"

namespace ondevice::platform {

WarmModel::WarmModel(ModelFiles files, std::string identity, unsigned mostIdle)
    : files_(std::move(files)),
      identity_(std::move(identity)),
      mostIdle_(mostIdle),
      maker_(files_) {}

std::unique_ptr<UtteranceDecoder> WarmModel::take() {
  {
    const std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto decoder = std::move(idle_.back());
      idle_.pop_back();
      return decoder;
    }
  }
  return maker_.acquire();
}

void WarmModel::keep(std::unique_ptr<UtteranceDecoder> decoder) {
  const std::lock_guard lock(mutex_);
  if (decoder && idle_.size() < mostIdle_) idle_.push_back(std::move(decoder));
}

size_t WarmModel::idleDecoders() {
  const std::lock_guard lock(mutex_);
  return idle_.size();
}

std::shared_ptr<WarmModel> WarmModels::modelFor(const ModelFiles& files,
                                                const std::string& identity) {
  const Key key{files.acousticModel, files.languageModel, files.dictionary};
  const std::lock_guard lock(mutex_);
  auto& kept = models_[key];
  if (kept && kept->identity() == identity) return kept;
  // Loaded from other files than the client sees, or not loaded yet: only files that are now
  // what the client saw are loaded.
  if (modelIdentity(files) != identity) return nullptr;
  kept = std::make_shared<WarmModel>(files, identity, decodersPerModel_);
  return kept;
}

RequestDecoders::~RequestDecoders() {
  if (firstSlotHeld_) slots_.release();
}

std::unique_ptr<UtteranceDecoder> RequestDecoders::acquire() {
  bool first = false;
  {
    const std::lock_guard lock(mutex_);
    first = std::exchange(firstSlotHeld_, false);
  }
  if (!first && !slots_.tryAcquireFurther()) {
    throw PlatformError("No further decoder is free");
  }
  try {
    return model_->take();
  } catch (...) {
    slots_.release();
    throw;
  }
}

void RequestDecoders::release(std::unique_ptr<UtteranceDecoder> decoder) noexcept {
  model_->keep(std::move(decoder));
  slots_.release();
}

}  // namespace ondevice::platform
