#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace ondevice::testing {
namespace {

constexpr int kInherit = -2;  // a child descriptor left as the test's own

std::runtime_error systemError(const std::string& what, int error = errno) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::vector<std::string> childEnvironment(const ProcessOptions& options) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
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

// The descriptor the child gets as standard stream `number` (-1: closed), and for a captured
// stream the read end the parent keeps in `parentEnd`.
int openStream(const Stream& stream, int number, int& parentEnd) {
  const bool input = number == 0;
  int fds[2];
  switch (stream.kind) {
    case Stream::Kind::captured:
    case Stream::Kind::readerGone:
      if (input) throw std::logic_error("standard input cannot be captured");
      if (::pipe2(fds, O_CLOEXEC) != 0) throw systemError("pipe");
      if (stream.kind == Stream::Kind::captured) {
        parentEnd = fds[0];
      } else {
        ::close(fds[0]);
      }
      return fds[1];
    case Stream::Kind::nullDevice:
    case Stream::Kind::file: {
      const auto path = stream.kind == Stream::Kind::file ? stream.path : "/dev/null";
      const int flags =
          input ? O_RDONLY : O_WRONLY | O_CREAT | (stream.append ? O_APPEND : O_TRUNC);
      const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
      if (fd < 0) throw systemError("open " + path.string());
      return fd;
    }
    case Stream::Kind::inherited:
      return kInherit;
    case Stream::Kind::closed:
    case Stream::Kind::sameAsOutput:  // set up by the child, from its standard output
      return -1;
  }
  return -1;
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

void PrintTo(const ProcessResult& result, std::ostream* os) {
  const auto start = [](const std::string& text) {
    return text.size() > 400 ? text.substr(0, 400) + "...(" + std::to_string(text.size()) + ")"
                             : text;
  };
  *os << "{status " << result.exitStatus << ", signal " << result.signal
      << (result.timedOut ? ", timed out" : "") << ", out \"" << start(result.out) << "\", err \""
      << start(result.err) << "\"}";
}

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options)
    : deadline_(std::chrono::steady_clock::now() + options.timeout) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = childEnvironment(options);
  auto argPointers = pointers(args);
  auto envPointers = pointers(env);
  std::vector<std::pair<int, rlimit>> limits;
  for (const auto& [resource, value] : options.limits) limits.push_back({resource, {value, value}});
  int streams[3] = {-1, -1, -1};  // the child's ends
  int report[2] = {-1, -1};       // where the child writes the errno of a failure to start

  // In the forked child: only async-signal-safe calls from here to exec. (execvpe searches PATH
  // without allocating, as glibc's own posix_spawnp does in its child.)
  const auto becomeChild = [&] {
    // Out of the way of 0, 1 and 2 first, so that no dup2 below overwrites a source.
    for (int& fd : streams) {
      if (fd >= 0) fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    }
    for (int number = 0; number < 3; ++number) {
      if (streams[number] >= 0) ::dup2(streams[number], number);
      if (streams[number] == -1) ::close(number);
    }
    if (options.error.kind == Stream::Kind::sameAsOutput && ::dup2(1, 2) < 0) ::close(2);
    // The child gets its three streams and nothing the test runner left open: a descriptor it
    // inherited would count against its open-file limit.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    int failure = 0;
    if (options.workingDirectory && ::chdir(options.workingDirectory->c_str()) != 0)
      failure = errno;
    for (const auto& [resource, limit] : limits) {
      if (failure == 0 && ::setrlimit(resource, &limit) != 0) failure = errno;
    }
    if (failure == 0 && options.user &&
        (::setgroups(0, nullptr) != 0 || ::setgid(options.user->second) != 0 ||
         ::setuid(options.user->first) != 0)) {
      failure = errno;
    }
    // A host starts the tool with default dispositions: nothing ignored but what was asked.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number) ::sigaction(number, &action, nullptr);
    action.sa_handler = SIG_IGN;
    for (const int number : options.ignoredSignals) ::sigaction(number, &action, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (failure == 0) {
      ::execvpe(argPointers[0], argPointers.data(), envPointers.data());
      failure = errno;
    }
    [[maybe_unused]] const ssize_t written = ::write(report[1], &failure, sizeof failure);
    ::_exit(127);
  };
  const auto closeChildEnds = [&] {
    for (int& fd : streams) {
      if (fd >= 0) closeFd(fd);
    }
    closeFd(report[1]);
  };
  try {
    int noParentEnd = -1;  // standard input is never captured
    streams[0] = openStream(options.input, 0, noParentEnd);
    streams[1] = openStream(options.output, 1, outFd_);
    streams[2] = openStream(options.error, 2, errFd_);
    if (::pipe2(report, O_CLOEXEC) != 0) throw systemError("pipe");
    pid_ = ::fork();
    if (pid_ == 0) becomeChild();
    if (pid_ < 0) throw systemError("fork");
  } catch (...) {
    closeChildEnds();
    closeFd(report[0]);
    closeFd(outFd_);
    closeFd(errFd_);
    throw;
  }
  closeChildEnds();  // the report's write end too, so that its read ends at the exec
  int startError = 0;
  while (::read(report[0], &startError, sizeof startError) < 0 && errno == EINTR) {
  }
  closeFd(report[0]);
  pidFd_ = startError != 0 ? -1 : static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd_ < 0) {
    const int error = startError != 0 ? startError : errno;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    closeFd(outFd_);
    closeFd(errFd_);
    throw systemError("cannot start " + args.at(0), error);
  }
}

Process::~Process() {
  if (!exited_) {
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
    if (n > 0) sinks[i]->append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR)) closeFd(*streams[i]);
  }
  int status = 0;
  if (fds[2].revents != 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
    exited_ = true;
    if (WIFEXITED(status)) result_.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  }
  return outFd_ >= 0 || errFd_ >= 0 || !exited_;
}

std::string Process::firstOutputLine() {
  for (int left; result_.out.find('\n') == std::string::npos;) {
    if (outFd_ < 0 || (left = millisecondsUntil(deadline_)) == 0) return "";
    collect(left);
  }
  return result_.out.substr(0, result_.out.find('\n'));
}

const ProcessResult& Process::wait() {
  if (waited_) return result_;
  for (int left; (left = millisecondsUntil(deadline_)) > 0 && collect(left);) {
  }
  // Out of time, or ended while something it started holds its streams open.
  result_.timedOut = !exited_ || outFd_ >= 0 || errFd_ >= 0;
  if (!exited_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
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

std::filesystem::path moduleOf(const std::filesystem::path& binary) {
  return (binary.parent_path() / ONDEVICE_STT_MODULE_DIR_FROM_BINARY / "ondevice-stt-speech.so")
      .lexically_normal();
}

std::vector<std::string> binaryCommand(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{binaryPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

ProcessResult runBinary(const std::vector<std::string>& arguments, const ProcessOptions& options) {
  return runProcess(binaryCommand(arguments), options);
}

}  // namespace ondevice::testing
