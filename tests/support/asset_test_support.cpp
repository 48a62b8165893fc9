#include "tests/support/asset_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace ondevice::testing::assets {
namespace {

namespace fs = std::filesystem;

std::string scriptPath(const std::string& script) {
  return sourceDirectory() + "/tests/support/" + script;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& added) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : added) merged[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
  return result;
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (fs::temp_directory_path() / "ondevice-stt-assets-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

AssetServer::AssetServer(fs::path root, bool untrustedTls) {
  logFile_ = root.string() + ".requests.log";
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  std::vector<std::string> args{
      ONDEVICE_STT_TEST_PYTHON, scriptPath("asset_server.py"), "--root", root.string(), "--log",
      logFile_.string()};
  if (untrustedTls) {
    args.push_back("--tls");
    args.push_back(scriptPath("asset_server_untrusted.pem"));
    scheme_ = "https";
  }
  auto argv = pointers(args);
  const int spawned = posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    throw std::runtime_error(std::string("cannot start the asset server: ") +
                             std::strerror(spawned));
  }
  std::string line;
  char c = 0;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') line.push_back(c);
  close(pipeFds[0]);
  port_ = line.empty() ? 0 : std::stoi(line);
  if (port_ == 0) throw std::runtime_error("the asset server did not start");
}

AssetServer::~AssetServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  std::error_code ignored;
  fs::remove(logFile_, ignored);
}

std::string AssetServer::url(const std::string& fault, const std::string& file) const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/" + fault + "/" + file;
}

std::vector<LoggedRequest> AssetServer::requests() const {
  std::vector<LoggedRequest> result;
  std::istringstream lines(readAll(logFile_));
  std::string line;
  while (std::getline(lines, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    result.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return result;
}

void runSupportScript(const std::string& script, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{ONDEVICE_STT_TEST_PYTHON, scriptPath(script)};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessOptions options;
  options.timeout = std::chrono::minutes(2);
  const auto result = runProcess(argv, options);
  if (result.exitStatus != 0) {
    throw std::runtime_error(script + " failed: " + result.err);
  }
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
  const auto result = runProcess({"sha256sum", "--", file.string()});
  if (result.exitStatus != 0 || result.out.size() < 64) {
    throw std::runtime_error("sha256sum failed: " + result.err);
  }
  return result.out.substr(0, 64);
}

std::uintmax_t fileSize(const fs::path& file) { return fs::file_size(file); }

void writeText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
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

TemporaryMount::TemporaryMount(const fs::path& at, const std::string& options) : at_(at) {
  fs::create_directories(at);
  mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TemporaryMount::~TemporaryMount() {
  if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
}

BackgroundBinary::BackgroundBinary(const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& environment,
                                   const fs::path& outputDirectory) {
  static int counter = 0;
  const std::string stem = "binary-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  out_ = outputDirectory / (stem + ".out");
  err_ = outputDirectory / (stem + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args{binaryPath()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  auto env = environmentWith(environment);
  auto argv = pointers(args);
  auto envp = pointers(env);
  const int spawned =
      posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    throw std::runtime_error(std::string("cannot start the binary: ") + std::strerror(spawned));
  }
}

BackgroundBinary::~BackgroundBinary() {
  if (!result_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

void BackgroundBinary::kill(int signal) {
  if (!result_ && pid_ > 0) ::kill(pid_, signal);
}

ProcessResult BackgroundBinary::wait(std::chrono::milliseconds timeout) {
  if (result_) return *result_;
  ProcessResult result;
  int status = 0;
  const bool ended = waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
  if (!ended) {
    result.timedOut = true;
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = readAll(out_);
  result.err = readAll(err_);
  result_ = result;
  return result;
}

}  // namespace ondevice::testing::assets
