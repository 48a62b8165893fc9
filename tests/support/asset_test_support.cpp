#include "tests/support/asset_test_support.h"

#include <sstream>
#include <stdexcept>

namespace ondevice::testing::assets {
namespace {

namespace fs = std::filesystem;

std::string scriptPath(const std::string& script) {
  return sourceDirectory() + "/tests/support/" + script;
}

void runSupportScript(const std::string& script, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{ONDEVICE_STT_TEST_PYTHON, scriptPath(script)};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessOptions options;
  options.timeout = std::chrono::minutes(2);
  runTool(argv, options);
}

std::string quoted(const std::string& text) {
  std::string result = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') result.push_back('\\');
    result.push_back(c);
  }
  return result + "\"";
}

}  // namespace

AssetServer::AssetServer(fs::path root, bool untrustedTls)
    : logFile_(root.string() + ".requests.log"), scheme_(untrustedTls ? "https" : "http") {
  std::vector<std::string> argv{ONDEVICE_STT_TEST_PYTHON, scriptPath("asset_server.py"), "--root",
                                root.string(), "--log", logFile_.string()};
  if (untrustedTls) {
    argv.push_back("--tls");
    argv.push_back(scriptPath("asset_server_untrusted.pem"));
  }
  ProcessOptions options;
  options.error = Stream::inherited();
  options.timeout = std::chrono::hours(1);  // it runs until it is destroyed
  process_.emplace(argv, options);
  const std::string line = process_->firstOutputLine();  // the port, once listening
  port_ = line.empty() ? 0 : std::stoi(line);
  if (port_ == 0) throw std::runtime_error("the asset server did not start");
}

AssetServer::~AssetServer() {
  process_.reset();
  std::error_code ignored;
  fs::remove(logFile_, ignored);
}

std::string AssetServer::url(const std::string& fault, const std::string& file) const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/" + fault + "/" + file;
}

std::vector<LoggedRequest> AssetServer::requests() const {
  std::vector<LoggedRequest> result;
  std::istringstream lines(readText(logFile_));
  std::string line;
  while (std::getline(lines, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    result.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return result;
}

void makeModelArchive(const fs::path& source, const fs::path& out, const std::string& format,
                      const std::string& top, const std::vector<std::string>& replacements) {
  std::vector<std::string> arguments{"model",    "--source", source.string(), "--out", out.string(),
                                     "--format", format,     "--top",         top};
  for (const auto& replacement : replacements) {
    arguments.push_back("--replace");
    arguments.push_back(replacement);
  }
  runSupportScript("asset_archive.py", arguments);
}

void makeHostileArchive(const std::string& kind, const fs::path& out, const std::string& format,
                        const std::string& target) {
  std::vector<std::string> arguments{"hostile",    "--kind",   kind,  "--out",
                                     out.string(), "--format", format};
  if (!target.empty()) {
    arguments.push_back("--target");
    arguments.push_back(target);
  }
  runSupportScript("asset_archive.py", arguments);
}

std::string sha256Hex(const fs::path& file) {
  const auto result = runTool({"sha256sum", "--", file.string()});
  if (result.out.size() < 64) throw std::runtime_error("sha256sum said: " + result.out);
  return result.out.substr(0, 64);
}

std::string catalogJson(const std::vector<CatalogLine>& entries) {
  std::string json = "{\"locales\": {";
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& entry = entries[i];
    if (i > 0) json += ", ";
    json += quoted(entry.identifier) + ": {";
    std::vector<std::string> fields;
    if (entry.system) fields.push_back("\"system\": " + quoted(*entry.system));
    if (entry.archive) fields.push_back("\"archive\": " + quoted(*entry.archive));
    if (entry.sha256) fields.push_back("\"sha256\": " + quoted(*entry.sha256));
    if (entry.size) fields.push_back("\"size\": " + std::to_string(*entry.size));
    for (size_t f = 0; f < fields.size(); ++f) json += (f > 0 ? ", " : "") + fields[f];
    json += "}";
  }
  return json + "}}";
}

}  // namespace ondevice::testing::assets
