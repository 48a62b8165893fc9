#pragma once
// A decoder source that keeps the decoders given back to it and hands them out again before it
// asks its own source for more: the decoders of a recording's first decoding serve its second
// one without being loaded again. What it keeps goes back to its source when it is destroyed.
//
//   auto reused = std::make_shared<ReusedDecoders>(std::make_shared<FreshDecoders>(files));
//   { DecoderPool first(reused, 2, deliver); ... }   // its decoders stay in `reused`
//   DecoderPool second(reused, reused->kept(), deliver, {}, pass);

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/module/decoding/utterance_decoder.h"

namespace ondevice::platform {

class ReusedDecoders final : public DecoderSource {
 public:
  explicit ReusedDecoders(std::shared_ptr<DecoderSource> source) : source_(std::move(source)) {}
  ~ReusedDecoders() override {
    for (auto& decoder : kept_) source_->release(std::move(decoder));
  }
  ReusedDecoders(const ReusedDecoders&) = delete;
  ReusedDecoders& operator=(const ReusedDecoders&) = delete;

  std::unique_ptr<UtteranceDecoder> acquire() override {
    {
      const std::lock_guard lock(mutex_);
      if (!kept_.empty()) {
        auto decoder = std::move(kept_.back());
        kept_.pop_back();
        return decoder;
      }
    }
    return source_->acquire();
  }
  void release(std::unique_ptr<UtteranceDecoder> decoder) noexcept override {
    if (!decoder) return;
    const std::lock_guard lock(mutex_);
    kept_.push_back(std::move(decoder));
  }
  bool keepsDecodersWarm() const override { return source_->keepsDecodersWarm(); }

  // How many decoders it holds now.
  unsigned kept() const {
    const std::lock_guard lock(mutex_);
    return static_cast<unsigned>(kept_.size());
  }

 private:
  const std::shared_ptr<DecoderSource> source_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<UtteranceDecoder>> kept_;
};

}  // namespace ondevice::platform
