// Arbitrary bytes sent to the warm service on one connection, as a peer could send them, with an
// audio file's descriptor passed beside the first bytes (so that a well-formed open request
// reaches the analyze step).
//
// Checked: the service answers every connection without a crash or a hang, every frame it sends
// is a well-formed reply, and whatever the protocol accepts as a request or a reply encodes back
// to the same message.

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "base/framed_socket.h"
#include "base/system_error.h"
#include "base/unique_fd.h"
#include "platform/contract/service_protocol.h"
#include "platform/module/service/service_session.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace ondevice;
using namespace ondevice::platform;

// A tenth of a second of silence as a WAV, in memory.
UniqueFd audioFile() {
  std::string wav = "RIFF";
  const auto le32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) wav.push_back(static_cast<char>(v >> (8 * i)));
  };
  const auto le16 = [&](uint16_t v) {
    wav.push_back(static_cast<char>(v));
    wav.push_back(static_cast<char>(v >> 8));
  };
  const uint32_t dataBytes = 3200;
  le32(36 + dataBytes);
  wav += "WAVEfmt ";
  le32(16);
  le16(1);
  le16(1);
  le32(16000);
  le32(32000);
  le16(2);
  le16(16);
  wav += "data";
  le32(dataBytes);
  wav.append(dataBytes, '\0');
  UniqueFd fd(::memfd_create("audio.wav", MFD_CLOEXEC));
  FUZZ_CHECK(fd && ::write(fd.get(), wav.data(), wav.size()) == static_cast<ssize_t>(wav.size()),
             "memfd");
  ::lseek(fd.get(), 0, SEEK_SET);
  return fd;
}

void checkRoundTrips(const std::string& bytes) {
  if (const auto request = service::decodeRequest(bytes)) {
    const auto again = service::decodeRequest(service::encode(*request));
    FUZZ_CHECK(again.has_value(), "a request does not read back");
    FUZZ_CHECK(service::encode(*again) == service::encode(*request), "a request changed");
  }
  if (const auto reply = service::decodeReply(bytes)) {
    const auto again = service::decodeReply(service::encode(*reply));
    FUZZ_CHECK(again.has_value(), "a reply does not read back");
    FUZZ_CHECK(service::encode(*again) == service::encode(*reply), "a reply changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  checkRoundTrips(bytes);

  static WarmModels models(1);
  static DecodeSlots slots(1, 4);
  ServiceContext context{"fuzz-build", models, slots};

  int ends[2];
  FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "socketpair");
  UniqueFd peer(ends[0]);
  UniqueFd service(ends[1]);
  // The peer's bytes, as they come, with the file passed beside the first of them.
  const UniqueFd audio = audioFile();
  std::vector<std::string> replies;
  std::thread peerThread([&] {
    try {
      if (!bytes.empty()) {
        iovec part{const_cast<char*>(bytes.data()), bytes.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        const int fd = audio.get();
        std::memcpy(CMSG_DATA(rights), &fd, sizeof fd);
        (void)::sendmsg(peer.get(), &message, MSG_NOSIGNAL);
      }
      ::shutdown(peer.get(), SHUT_WR);
      while (auto frame = receiveFrame(peer.get(), service::kMostReplyBytes, 30'000)) {
        replies.push_back(std::move(frame->payload));
      }
    } catch (const SystemFailure&) {
    }
  });
  serveConnection(std::move(service), context);
  peerThread.join();
  for (const std::string& reply : replies) {
    FUZZ_CHECK(service::decodeReply(reply).has_value(), reply);
  }
  return 0;
}
