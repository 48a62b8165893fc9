// Nothing a service does costs a transcription its record: against services of the test's own
// that refuse, decline, lie, stall or die, and against places that are not the user's alone,
// the client transcribes in-process and writes exactly the record an in-process run writes. The
// real service, for its part, serves only its own user and survives a malformed request.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/framed_socket.h"
#include "base/system_error.h"
#include "base/unique_fd.h"
#include "platform/contract/service_protocol.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/service_under_test.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing {
namespace {

namespace fs = std::filesystem;
using platform::service::Reply;
using ::testing::HasSubstr;

const std::string& clip() {
  static const std::string path = speech::librivoxClips()[1].path;  // the shortest, 3 s
  return path;
}

ProcessOptions clientIn(const fs::path& runtime) {
  ProcessOptions options;
  options.environment["XDG_RUNTIME_DIR"] = runtime.string();
  return options;
}

const ProcessResult& inProcessRecord() {
  static const ProcessResult record = [] {
    ProcessOptions options;
    options.environment["ONDEVICE_STT_SERVICE"] = "off";
    return runBinary({"transcribe", "--file", clip()}, options);
  }();
  return record;
}

void expectInProcessRecord(const ProcessResult& r) {
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, inProcessRecord().out);
  EXPECT_EQ(r.err, "");
}

std::string reply(Reply::Kind kind, std::string text = {}) {
  Reply r;
  r.kind = kind;
  r.text = std::move(text);
  return platform::service::encode(r);
}

UniqueFd listenAt(const fs::path& socket) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 8) != 0) {
    throw std::runtime_error("cannot listen at " + socket.string());
  }
  ::chmod(socket.c_str(), 0600);
  return fd;
}

// A service of the test's own at <runtime>/ondevice-stt/socket: it answers every connection
// with `behave`, on a thread, and counts the connections.
class FakeService {
 public:
  using Behaviour = std::function<void(int connection)>;
  FakeService(const fs::path& runtime, Behaviour behave)
      : listener_(listenAt(runtime / "ondevice-stt" / "socket")),
        thread_([this, behave = std::move(behave)] {
          while (!stopping_) {
            if (!waitReadable(listener_.get(), 100)) continue;
            UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!connection) continue;
            ++connections_;
            try {
              behave(connection.get());
            } catch (const std::exception&) {
            }
          }
        }) {}
  ~FakeService() {
    stopping_ = true;
    thread_.join();
  }
  int connections() const { return connections_; }

 private:
  UniqueFd listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Reads the open request (and the file's descriptor), then acts.
FakeService::Behaviour afterOpen(std::function<void(int)> then) {
  return [then = std::move(then)](int connection) {
    receiveFrame(connection, 1 << 16, 5000);
    then(connection);
  };
}
// Opens as a service of the client's build would, reads the analyze request, then acts.
FakeService::Behaviour afterAnalyze(std::function<void(int)> then) {
  return [then = std::move(then)](int connection) {
    auto open = receiveFrame(connection, 1 << 16, 5000);
    const auto request = platform::service::decodeRequest(open->payload);
    sendFrame(connection,
              reply(Reply::Kind::opened, std::get<platform::service::OpenRequest>(*request).build));
    receiveFrame(connection, 1 << 16, 5000);
    then(connection);
  };
}

struct Misbehaviour {
  std::string name;
  FakeService::Behaviour behave;
};

class MisbehavingService : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(MisbehavingService, LeavesTheTranscriptionToTheClient) {
  ScratchDirectory scratch;
  const fs::path runtime = scratch.path() / "run";
  fs::create_directories(runtime / "ondevice-stt");
  ::chmod((runtime / "ondevice-stt").c_str(), 0700);
  const FakeService service(runtime, GetParam().behave);
  expectInProcessRecord(runBinary({"transcribe", "--file", clip()}, clientIn(runtime)));
  EXPECT_EQ(service.connections(), 1);  // it was asked, and not believed
}

void withDescriptor(int connection) {
  const UniqueFd some(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  sendFrame(connection, reply(Reply::Kind::opened, "x"), some.get());
}

const Misbehaviour kMisbehaviours[] = {
    {"closes at once", [](int) {}},
    {"answers garbage", afterOpen([](int c) { sendFrame(c, "{\"type\":\"opened\""); })},
    {"is of another build",
     afterOpen([](int c) { sendFrame(c, reply(Reply::Kind::opened, "x")); })},
    {"declines", afterOpen([](int c) { sendFrame(c, reply(Reply::Kind::declined, "no")); })},
    {"is busy", afterOpen([](int c) { sendFrame(c, reply(Reply::Kind::busy)); })},
    {"passes a descriptor back", afterOpen([](int c) { withDescriptor(c); })},
    {"sends a frame past its bound",
     afterOpen([](int c) { sendFrame(c, std::string(2 << 20, ' ')); })},
    {"fails the analysis",
     afterAnalyze([](int c) { sendFrame(c, reply(Reply::Kind::failed, "broke")); })},
    {"closes within the results", afterAnalyze([](int c) {
       Reply result;
       result.kind = Reply::Kind::result;
       result.result = {true, "half", {{0, 16000}, {16000, 16000}}};
       sendFrame(c, platform::service::encode(result));
     })},
    {"reads back", afterAnalyze([](int c) {
       for (const int64_t samples : {32000, 16000}) {
         Reply progress;
         progress.kind = Reply::Kind::progress;
         progress.samples = samples;
         sendFrame(c, platform::service::encode(progress));
       }
       std::this_thread::sleep_for(std::chrono::seconds(1));
     })},
    // Ten seconds of silence: the client gives up on it.
    {"stalls", afterAnalyze([](int) { std::this_thread::sleep_for(std::chrono::seconds(12)); })},
};
INSTANTIATE_TEST_SUITE_P(, MisbehavingService, ::testing::ValuesIn(kMisbehaviours),
                         namedBy<&Misbehaviour::name>);

// Places a client must not trust: it never connects, and transcribes in-process.
struct Place {
  std::string name;
  std::function<void(const fs::path& directory)> make;
};

class UntrustedPlace : public ::testing::TestWithParam<Place> {};

TEST_P(UntrustedPlace, IsNeverAsked) {
  ScratchDirectory scratch;
  const fs::path runtime = scratch.path() / "run";
  const fs::path directory = runtime / "ondevice-stt";
  fs::create_directories(directory);
  ::chmod(directory.c_str(), 0700);
  std::optional<FakeService> service;
  service.emplace(runtime, afterOpen([](int c) { sendFrame(c, reply(Reply::Kind::busy)); }));
  GetParam().make(directory);
  expectInProcessRecord(runBinary({"transcribe", "--file", clip()}, clientIn(runtime)));
  EXPECT_EQ(service->connections(), 0);
}

const Place kPlaces[] = {
    {"a directory others may enter", [](const fs::path& d) { ::chmod(d.c_str(), 0755); }},
    {"a socket of another user",
     [](const fs::path& d) { (void)::chown((d / "socket").c_str(), 65534, 65534); }},
    {"a socket others may use", [](const fs::path& d) { ::chmod((d / "socket").c_str(), 0666); }},
};
INSTANTIATE_TEST_SUITE_P(, UntrustedPlace, ::testing::ValuesIn(kPlaces), namedBy<&Place::name>);

TEST(NoService, NoRuntimeDirectoryOrASocketNobodyAnswersOnTranscribeInProcess) {
  ScratchDirectory scratch;
  expectInProcessRecord(
      runBinary({"transcribe", "--file", clip()}, clientIn(scratch.path() / "nothing-here")));
  const fs::path runtime = scratch.path() / "run";
  fs::create_directories(runtime / "ondevice-stt");
  ::chmod((runtime / "ondevice-stt").c_str(), 0700);
  { listenAt(runtime / "ondevice-stt" / "socket"); }  // bound, then closed: refused
  expectInProcessRecord(runBinary({"transcribe", "--file", clip()}, clientIn(runtime)));
}

TEST(KilledService, MidRequestLeavesTheTranscriptionToTheClient) {
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  speech::joinClips(speech::librivoxClips(), 0.4, joined);
  ServiceUnderTest service(scratch.path());
  ProcessOptions off = service.clientOptions();
  off.environment["ONDEVICE_STT_SERVICE"] = "off";
  const ProcessResult expected = runBinary({"transcribe", "--file", joined.string()}, off);
  Process client(binaryCommand({"transcribe", "--file", joined.string()}), service.clientOptions());
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  service.signal(SIGKILL);
  const ProcessResult& r = client.wait();
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, expected.out);
  EXPECT_EQ(r.err, "");
}

// A raw peer: a malformed request is answered with an error and the service goes on; a peer of
// another user is not answered at all.
int64_t connectAndSend(const fs::path& socket, const std::string& payload) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return -1;
  }
  try {
    sendFrame(fd.get(), payload);
    auto answer = receiveFrame(fd.get(), 1 << 20, 10'000);
    return answer ? static_cast<int64_t>(answer->payload.size()) : 0;
  } catch (const SystemFailure&) {
    return 0;  // closed unheard
  }
}

TEST(RealService, AnswersAMalformedRequestAndGoesOnServing) {
  ScratchDirectory scratch;
  ServiceUnderTest service(scratch.path());
  for (const std::string& garbage :
       std::vector<std::string>{"", "{}", "[1,2]", "{\"type\":\"open\",\"type\":\"open\"}",
                                "{\"type\":\"analyze\"}", std::string(100, '\xff')}) {
    EXPECT_GT(connectAndSend(service.socket(), garbage), 0) << garbage;
  }
  const ProcessResult r = runBinary({"transcribe", "--file", clip()}, service.clientOptions());
  EXPECT_EQ(r.out, inProcessRecord().out);
  EXPECT_EQ(service.stop().out, "{\"requests\":1,\"stopped\":\"signal\"}\n");
}

TEST(RealService, ServesOnlyItsOwnUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "running a service as another user needs root";
  ScratchDirectory scratch;
  ::chmod(scratch.path().c_str(), 0711);  // the service's user passes through to its own
  ProcessOptions asNobody;
  asNobody.user = std::pair<uid_t, gid_t>{65534, 65534};
  ServiceUnderTest service(scratch.path(), {}, asNobody);
  // Root's client does not trust nobody's socket; nobody's service does not answer root.
  expectInProcessRecord(runBinary({"transcribe", "--file", clip()}, service.clientOptions()));
  EXPECT_EQ(connectAndSend(service.socket(), "{}"), 0);
  EXPECT_EQ(service.stop().out, "{\"requests\":0,\"stopped\":\"signal\"}\n");
}

TEST(RealService, RefusesToStartWithoutARuntimeDirectory) {
  ProcessOptions options;
  options.unsetEnvironment = {"XDG_RUNTIME_DIR"};
  const ProcessResult r = runBinary({"serve"}, options);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "{\"error\":\"Cannot serve: XDG_RUNTIME_DIR is not set to an absolute path\"}\n");
}

}  // namespace
}  // namespace ondevice::testing
