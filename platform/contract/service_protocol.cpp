#include "platform/contract/service_protocol.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/contract/json_keys.h"

namespace ondevice::platform::service {
namespace {

using Json = nlohmann::json;

constexpr std::pair<Reply::Kind, const char*> kReplyNames[] = {
    {Reply::Kind::opened, "opened"},     {Reply::Kind::undecodable, "undecodable"},
    {Reply::Kind::declined, "declined"}, {Reply::Kind::busy, "busy"},
    {Reply::Kind::progress, "progress"}, {Reply::Kind::result, "result"},
    {Reply::Kind::finished, "finished"}, {Reply::Kind::failed, "failed"},
};

Json time(const MediaTime& t) { return Json::array({t.value, t.timescale}); }

// The parsed object when `payload` is one whose keys are exactly `keys`, each written once (the
// parsed document would keep only the last of a repeated key).
std::optional<Json> objectWithKeys(std::string_view payload,
                                   std::initializer_list<const char*> keys) {
  const Json document = Json::parse(payload, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object() || document.size() != keys.size()) return std::nullopt;
  for (const char* key : keys) {
    if (!document.contains(key)) return std::nullopt;
  }
  const auto written = writtenKeys(payload);
  if (!written || std::count_if(written->begin(), written->end(), [](const WrittenKey& key) {
                    return key.first == 1;
                  }) != static_cast<std::ptrdiff_t>(keys.size())) {
    return std::nullopt;
  }
  return document;
}

// A string member without NUL (paths and texts reach the system as C strings).
std::optional<std::string> text(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_string()) return std::nullopt;
  std::string s = value.get<std::string>();
  if (s.find('\0') != std::string::npos) return std::nullopt;
  return s;
}

std::optional<int64_t> integer(const Json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
  if (value.is_number_unsigned() &&
      value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    return static_cast<int64_t>(value.get<uint64_t>());
  }
  return std::nullopt;
}

// [value, timescale] with a timescale of 1 to INT32_MAX.
std::optional<MediaTime> mediaTime(const Json& value) {
  if (!value.is_array() || value.size() != 2) return std::nullopt;
  const auto ticks = integer(value[0]);
  const auto scale = integer(value[1]);
  if (!ticks || !scale || *scale <= 0 || *scale > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return MediaTime{*ticks, static_cast<int32_t>(*scale)};
}

std::optional<std::string> typeOf(std::string_view payload) {
  const Json document = Json::parse(payload, nullptr, false);
  if (!document.is_object() || !document.contains("type") || !document["type"].is_string()) {
    return std::nullopt;
  }
  return document["type"].get<std::string>();
}

}  // namespace

std::string encode(const Request& request) {
  if (const auto* open = std::get_if<OpenRequest>(&request)) {
    return Json{{"type", "open"},
                {"protocol", kProtocolVersion},
                {"build", open->build},
                {"path", open->path}}
        .dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  const auto& analyze = std::get<AnalyzeRequest>(request);
  return Json{{"type", "analyze"},
              {"locale", analyze.locale},
              {"name", analyze.name},
              {"acoustic", analyze.model.acousticModel},
              {"language", analyze.model.languageModel},
              {"dictionary", analyze.model.dictionary},
              {"identity", analyze.identity}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string encode(const Reply& reply) {
  Json message;
  for (const auto& [kind, name] : kReplyNames) {
    if (kind == reply.kind) message["type"] = name;
  }
  switch (reply.kind) {
    case Reply::Kind::opened:
      message["build"] = reply.text;
      break;
    case Reply::Kind::undecodable:
    case Reply::Kind::failed:
      message["error"] = reply.text;
      break;
    case Reply::Kind::declined:
      message["reason"] = reply.text;
      break;
    case Reply::Kind::busy:
      break;
    case Reply::Kind::progress:
      message["queued"] = reply.queued;
      message["samples"] = reply.samples;
      break;
    case Reply::Kind::result:
      message["final"] = reply.result.isFinal;
      message["text"] = reply.result.text;
      message["start"] = time(reply.result.range.start);
      message["duration"] = time(reply.result.range.duration);
      break;
    case Reply::Kind::finished:
      message["last"] = reply.last ? time(*reply.last) : Json(nullptr);
      break;
  }
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<Request> decodeRequest(std::string_view payload) {
  const auto type = typeOf(payload);
  if (type == "open") {
    const auto message = objectWithKeys(payload, {"type", "protocol", "build", "path"});
    if (!message || integer((*message)["protocol"]) != kProtocolVersion) return std::nullopt;
    auto build = text(*message, "build");
    auto path = text(*message, "path");
    if (!build || !path) return std::nullopt;
    return OpenRequest{*std::move(build), *std::move(path)};
  }
  if (type == "analyze") {
    const auto message = objectWithKeys(
        payload, {"type", "locale", "name", "acoustic", "language", "dictionary", "identity"});
    if (!message) return std::nullopt;
    AnalyzeRequest request;
    for (auto [key, field] : {std::pair{"locale", &request.locale},
                              {"name", &request.name},
                              {"acoustic", &request.model.acousticModel},
                              {"language", &request.model.languageModel},
                              {"dictionary", &request.model.dictionary},
                              {"identity", &request.identity}}) {
      auto value = text(*message, key);
      if (!value) return std::nullopt;
      *field = *std::move(value);
    }
    return request;
  }
  return std::nullopt;
}

std::optional<Reply> decodeReply(std::string_view payload) {
  const auto type = typeOf(payload);
  if (!type) return std::nullopt;
  Reply reply;
  bool known = false;
  for (const auto& [kind, name] : kReplyNames) {
    if (*type == name) {
      reply.kind = kind;
      known = true;
    }
  }
  if (!known) return std::nullopt;
  switch (reply.kind) {
    case Reply::Kind::opened:
    case Reply::Kind::undecodable:
    case Reply::Kind::failed:
    case Reply::Kind::declined: {
      const char* key = reply.kind == Reply::Kind::opened     ? "build"
                        : reply.kind == Reply::Kind::declined ? "reason"
                                                              : "error";
      const auto message = objectWithKeys(payload, {"type", key});
      if (!message) return std::nullopt;
      auto value = text(*message, key);
      if (!value) return std::nullopt;
      reply.text = *std::move(value);
      return reply;
    }
    case Reply::Kind::busy:
      if (!objectWithKeys(payload, {"type"})) return std::nullopt;
      return reply;
    case Reply::Kind::progress: {
      const auto message = objectWithKeys(payload, {"type", "queued", "samples"});
      if (!message || !(*message)["queued"].is_boolean()) return std::nullopt;
      const auto samples = integer((*message)["samples"]);
      if (!samples || *samples < 0) return std::nullopt;
      reply.queued = (*message)["queued"].get<bool>();
      reply.samples = *samples;
      return reply;
    }
    case Reply::Kind::result: {
      const auto message = objectWithKeys(payload, {"type", "final", "text", "start", "duration"});
      if (!message || !(*message)["final"].is_boolean()) return std::nullopt;
      auto words = text(*message, "text");
      const auto start = mediaTime((*message)["start"]);
      const auto duration = mediaTime((*message)["duration"]);
      if (!words || !start || !duration || start->value < 0 || duration->value < 0) {
        return std::nullopt;
      }
      reply.result = TranscriptionResult{(*message)["final"].get<bool>(), *std::move(words),
                                         TimeRange{*start, *duration}};
      return reply;
    }
    case Reply::Kind::finished: {
      const auto message = objectWithKeys(payload, {"type", "last"});
      if (!message) return std::nullopt;
      if (!(*message)["last"].is_null()) {
        reply.last = mediaTime((*message)["last"]);
        if (!reply.last || reply.last->value < 0) return std::nullopt;
      }
      return reply;
    }
  }
  return std::nullopt;
}

}  // namespace ondevice::platform::service
