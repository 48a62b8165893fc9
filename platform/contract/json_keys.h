#pragma once
// The keys of a JSON text as they are written, in order, with the depth of the object each
// belongs to (1 for the top level): what a parsed document no longer shows, since it keeps one
// member per key. The catalog keeps its locales in file order by it, and the service protocol
// refuses a message that repeats a key.
//
//   const auto keys = writtenKeys(R"({"a":1,"b":{"c":2},"a":3})");
//   // {{1, "a"}, {1, "b"}, {2, "c"}, {1, "a"}}

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ondevice::platform {

using WrittenKey = std::pair<int, std::string>;  // depth, key

// One linear pass; none when the text is not JSON.
inline std::optional<std::vector<WrittenKey>> writtenKeys(std::string_view json) {
  class Recorder final : public nlohmann::json_sax<nlohmann::json> {
   public:
    std::vector<WrittenKey> keys;
    bool key(string_t& key) override {
      keys.emplace_back(depth_, key);
      return true;
    }
    bool start_object(std::size_t) override { return open(); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
      return false;
    }

   private:
    bool open() {
      ++depth_;
      return true;
    }
    bool close() {
      --depth_;
      return true;
    }
    int depth_ = 0;
  } recorder;
  if (!nlohmann::json::sax_parse(json, &recorder)) return std::nullopt;
  return std::move(recorder.keys);
}

}  // namespace ondevice::platform
