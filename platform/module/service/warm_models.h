#pragma once
// The models the service keeps loaded, one per set of model files, each with its idle decoders
// kept warm for the next request. A request names the files and their identity as its client
// sees them (contract/model_identity.h): it gets the model loaded from exactly those files, a
// new one where the files changed since (a prepare installed another model; requests already
// decoding finish on the old one, which goes once they let go of it), or none where the service
// sees other files than the client does.
//
//   WarmModels models(slots);
//   std::shared_ptr<WarmModel> model = models.modelFor(files, identity);   // none: decline
//   auto decoders = std::make_shared<RequestDecoders>(model, slots);       // for one request
//
// Thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/contract/model_parts.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/service/decode_slots.h"

namespace ondevice::platform {

class WarmModel {
 public:
  WarmModel(ModelFiles files, std::string identity, unsigned mostIdle);

  const ModelFiles& files() const { return files_; }
  const std::string& identity() const { return identity_; }

  // An idle decoder, else a new one; throws PlatformError when none can be made.
  std::unique_ptr<UtteranceDecoder> take();
  // Keeps `decoder` for the next request (up to mostIdle of them).
  void keep(std::unique_ptr<UtteranceDecoder> decoder);
  size_t idleDecoders();

 private:
  const ModelFiles files_;
  const std::string identity_;
  const unsigned mostIdle_;
  FreshDecoders maker_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<UtteranceDecoder>> idle_;
};

class WarmModels {
 public:
  explicit WarmModels(unsigned decodersPerModel) : decodersPerModel_(decodersPerModel) {}

  // The model of `files` as `identity` says they are; none when the files are not that now.
  std::shared_ptr<WarmModel> modelFor(const ModelFiles& files, const std::string& identity);

 private:
  using Key = std::tuple<std::string, std::string, std::string>;
  const unsigned decodersPerModel_;
  std::mutex mutex_;
  std::map<Key, std::shared_ptr<WarmModel>> models_;
};

// The decoders of one request: the first under the slot the request was admitted with, further
// ones only where a slot is free; each goes back to the model, and its slot back to the service,
// when the request's pool is done with it.
class RequestDecoders final : public DecoderSource {
 public:
  // `slots` holds one slot for this request already (DecodeSlots::acquireFirst).
  RequestDecoders(std::shared_ptr<WarmModel> model, DecodeSlots& slots)
      : model_(std::move(model)), slots_(slots) {}
  ~RequestDecoders() override;

  std::unique_ptr<UtteranceDecoder> acquire() override;
  void release(std::unique_ptr<UtteranceDecoder> decoder) noexcept override;
  bool keepsDecodersWarm() const override { return true; }

 private:
  const std::shared_ptr<WarmModel> model_;
  DecodeSlots& slots_;
  std::mutex mutex_;
  bool firstSlotHeld_ = true;  // the admission's slot, until the first decoder takes it
};

}  // namespace ondevice::platform
