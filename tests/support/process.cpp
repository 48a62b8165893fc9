#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace ondevice::testing {
namespace {

constexpr int kInherit = -2;  // a child descriptor left as the test's own

std::runtime_error systemError(const std::string& what, int error = errno) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

std::vector<std::string> childEnvironment(const ProcessOptions& options) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& name : options.unsetEnvironment) merged.erase(name);
  for (const auto& [name, value] : options.environment) merged[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Where execvp would find `name`; found before the fork, since the child may not allocate.
std::string programPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= directories.size();) {
    size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = directories.substr(start, end - start);
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) {
      return candidate;
    }
    start = end + 1;
  }
  return name;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The parent's side of one standard stream: the descriptor the child gets (-1: closed) and,
// for a captured stream, the read end the parent keeps.
struct StreamEnds {
  int child = -1;
  int parent = -1;
};

StreamEnds open(const Stream& stream, int number) {
  const bool input = number == 0;
  int fds[2];
  switch (stream.kind) {
    case Stream::Kind::captured:
    case Stream::Kind::readerGone:
      if (input) throw std::logic_error("standard input is read, not captured");
      if (::pipe2(fds, O_CLOEXEC) != 0) throw systemError("pipe");
      if (stream.kind == Stream::Kind::captured) return {fds[1], fds[0]};
      ::close(fds[0]);
      return {fds[1], -1};
    case Stream::Kind::inherited:
      return {kInherit, -1};
    case Stream::Kind::nullDevice:
    case Stream::Kind::file: {
      const std::string path = stream.kind == Stream::Kind::file ? stream.path.string() : "/dev/null";
      const int flags = input ? O_RDONLY
                              : O_WRONLY | O_CREAT | (stream.append ? O_APPEND : O_TRUNC);
      const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
      if (fd < 0) throw systemError("open " + path);
      return {fd, -1};
    }
    case Stream::Kind::closed:
    case Stream::Kind::sameAsOutput:
      return {};
  }
  return {};
}

// In the forked child: only async-signal-safe calls from here to exec.
[[noreturn]] void becomeChild(std::array<int, 3> streams, bool errorAsOutput,
                              const char* directory, const std::vector<std::pair<int, rlimit>>& limits,
                              const std::vector<int>& ignored, const char* program, char** argv,
                              char** envp, int report) {
  // Out of the way of 0, 1 and 2 first, so that no dup2 below overwrites a source.
  for (int& fd : streams) {
    if (fd >= 0) fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  }
  for (int number = 0; number < 3; ++number) {
    if (streams[number] >= 0) {
      ::dup2(streams[number], number);
    } else if (streams[number] != kInherit) {
      ::close(number);
    }
  }
  if (errorAsOutput) {
    if (::fcntl(1, F_GETFD) >= 0) {
      ::dup2(1, 2);
    } else {
      ::close(2);
    }
  }
  int failure = 0;
  if (directory != nullptr && ::chdir(directory) != 0) failure = errno;
  for (const auto& [resource, limit] : limits) {
    if (failure == 0 && ::setrlimit(resource, &limit) != 0) failure = errno;
  }
  // A host starts the tool with default dispositions: nothing ignored but what was asked.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) ::sigaction(number, &action, nullptr);
  action.sa_handler = SIG_IGN;
  for (const int number : ignored) ::sigaction(number, &action, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (failure == 0) {
    ::execve(program, argv, envp);
    failure = errno;
  }
  [[maybe_unused]] const ssize_t ignoredResult = ::write(report, &failure, sizeof failure);
  ::_exit(127);
}

}  // namespace

void PrintTo(const ProcessResult& result, std::ostream* os) {
  const auto start = [](const std::string& text) {
    return text.size() > 400 ? text.substr(0, 400) + "...(" + std::to_string(text.size()) + ")"
                             : text;
  };
  *os << "{status " << result.exitStatus << ", signal " << result.signal
      << (result.timedOut ? ", timed out" : "") << ", out \"" << start(result.out)
      << "\", err \"" << start(result.err) << "\"}";
}

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = childEnvironment(options);
  auto argPointers = pointers(args);
  auto envPointers = pointers(env);
  const std::string program = programPath(args.at(0));
  std::vector<std::pair<int, rlimit>> limits;
  for (const auto& [resource, value] : options.limits) limits.push_back({resource, {value, value}});
  const std::string directory =
      options.workingDirectory ? options.workingDirectory->string() : std::string();

  std::array<StreamEnds, 3> ends;
  int report[2] = {-1, -1};
  const auto closeAll = [&] {
    for (auto& end : ends) {
      if (end.child >= 0) ::close(end.child);
      closeFd(end.parent);
    }
    closeFd(report[0]);
    closeFd(report[1]);
  };
  try {
    ends[0] = open(options.input, 0);
    ends[1] = open(options.output, 1);
    ends[2] = open(options.error, 2);
    if (::pipe2(report, O_CLOEXEC) != 0) throw systemError("pipe");
  } catch (...) {
    closeAll();
    throw;
  }
  const bool errorAsOutput = options.error.kind == Stream::Kind::sameAsOutput;

  pid_ = ::fork();
  if (pid_ == 0) {
    becomeChild({ends[0].child, ends[1].child, ends[2].child}, errorAsOutput,
                options.workingDirectory ? directory.c_str() : nullptr, limits,
                options.ignoredSignals, program.c_str(), argPointers.data(), envPointers.data(),
                report[1]);
  }
  const int forkError = errno;
  outFd_ = std::exchange(ends[1].parent, -1);
  errFd_ = std::exchange(ends[2].parent, -1);
  int startError = 0;
  if (pid_ > 0) {
    closeFd(report[1]);  // so that the read ends at the exec
    ssize_t n;
    while ((n = ::read(report[0], &startError, sizeof startError)) < 0 && errno == EINTR) {
    }
    if (n != sizeof startError) startError = 0;
  }
  closeAll();
  if (pid_ < 0 || startError != 0) {
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    exited_ = true;
    closeFd(outFd_);
    closeFd(errFd_);
    throw systemError("cannot start " + args.at(0), pid_ < 0 ? forkError : startError);
  }
  deadline_ = std::chrono::steady_clock::now() + options.timeout;
  pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd_ < 0) {
    const int error = errno;
    ::kill(pid_, SIGKILL);
    wait();
    throw systemError("pidfd_open", error);
  }
}

Process::~Process() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  closeFd(outFd_);
  closeFd(errFd_);
  closeFd(pidFd_);
}

void Process::signal(int signal) {
  if (!exited_) ::kill(pid_, signal);
}

bool Process::collect(int timeoutMilliseconds) {
  pollfd fds[3] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {exited_ ? -1 : pidFd_, POLLIN, 0}};
  if (::poll(fds, 3, timeoutMilliseconds) < 0 && errno != EINTR) throw systemError("poll");
  int* streams[2] = {&outFd_, &errFd_};
  std::string* sinks[2] = {&result_.out, &result_.err};
  for (int i = 0; i < 2; ++i) {
    if (*streams[i] < 0 || fds[i].revents == 0) continue;
    char buffer[65536];
    const ssize_t n = ::read(*streams[i], buffer, sizeof buffer);
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      closeFd(*streams[i]);
    }
  }
  if (!exited_ && fds[2].revents != 0) {
    int status = 0;
    const pid_t waited = ::waitpid(pid_, &status, WNOHANG);
    if (waited == pid_ || (waited < 0 && errno != EINTR)) {
      exited_ = true;
      if (WIFEXITED(status)) result_.exitStatus = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    }
  }
  return outFd_ >= 0 || errFd_ >= 0 || !exited_;
}

namespace {

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

std::string Process::firstOutputLine() {
  for (;;) {
    const auto end = result_.out.find('\n');
    if (end != std::string::npos) return result_.out.substr(0, end);
    const int left = millisecondsUntil(deadline_);
    if (outFd_ < 0 || left == 0) return "";
    collect(left);
  }
}

const ProcessResult& Process::wait() {
  if (waited_) return result_;
  for (int left; (left = millisecondsUntil(deadline_)) > 0;) {
    if (!collect(left)) break;
  }
  if (!exited_) {  // out of time, or still writing
    result_.timedOut = true;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  } else if (outFd_ >= 0 || errFd_ >= 0) {
    result_.timedOut = true;  // exited, but something it started holds its streams open
  }
  closeFd(outFd_);
  closeFd(errFd_);
  waited_ = true;
  return result_;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  return Process(argv, options).wait();
}

ProcessResult runTool(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result = runProcess(argv, options);
  if (result.exitStatus != 0) {
    throw std::runtime_error(argv.at(0) + " failed (status " + std::to_string(result.exitStatus) +
                             "): " + result.err);
  }
  return result;
}

std::string binaryPath() { return ONDEVICE_STT_BINARY; }
std::string sourceDirectory() { return ONDEVICE_STT_SOURCE_DIR; }

std::vector<std::string> binaryCommand(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{binaryPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

ProcessResult runBinary(const std::vector<std::string>& arguments, const ProcessOptions& options) {
  return runProcess(binaryCommand(arguments), options);
}

}  // namespace ondevice::testing
