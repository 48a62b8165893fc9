#include "platform/module/service/speech_service.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "base/framed_socket.h"
#include "base/memory_limits.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/contract/model_identity.h"
#include "platform/contract/service_protocol.h"
#include "platform/module/analysis/analyzer.h"
#include "platform/module/service/service_place.h"
#include "platform/module/service/service_session.h"

namespace ondevice::platform {
namespace {

using Clock = std::chrono::steady_clock;

// SIGTERM and SIGINT, read from a descriptor by the accept loop instead of interrupting it.
// Blocked before any thread starts, so that every thread of the service leaves them pending.
UniqueFd signalDescriptor() {
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGTERM);
  sigaddset(&stopping, SIGINT);
  if (::pthread_sigmask(SIG_BLOCK, &stopping, nullptr) != 0) {
    throw PlatformError("Cannot serve: the stop signals cannot be blocked");
  }
  UniqueFd fd(::signalfd(-1, &stopping, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!fd) throw PlatformError(describeSystemError("Cannot serve: no signal descriptor", errno));
  return fd;
}

// The connections being served, each on a thread of its own.
class Sessions {
 public:
  ~Sessions() { waitForAll(); }

  size_t active() {
    const std::lock_guard lock(mutex_);
    reapFinished();
    return running_;
  }

  void start(UniqueFd connection, ServiceContext& context) {
    const std::lock_guard lock(mutex_);
    reapFinished();
    ++running_;
    threads_.emplace_back();
    auto slot = std::prev(threads_.end());
    slot->thread = std::thread([this, slot, fd = std::move(connection), &context]() mutable {
      serveConnection(std::move(fd), context);
      const std::lock_guard done(mutex_);
      slot->finished = true;
      --running_;
      idle_.notify_all();
    });
  }

  void waitForAll() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
    for (auto& session : threads_) session.thread.join();
    threads_.clear();
  }

 private:
  struct Session {
    std::thread thread;
    bool finished = false;
  };
  // With the mutex held.
  void reapFinished() {
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (it->finished) {
        it->thread.join();
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  std::list<Session> threads_;
  size_t running_ = 0;
};

// Tells a peer the service cannot take it now, without waiting on it.
void turnAway(int connection) {
  service::Reply busy;
  busy.kind = service::Reply::Kind::busy;
  try {
    sendFrame(connection, service::encode(busy), -1, 100);
  } catch (const SystemFailure&) {
  }
}

}  // namespace

ServiceSummary runSpeechService(const ServiceJob& job) {
  const UniqueFd signals = signalDescriptor();
  ServicePlace place(job.directory);

  const unsigned decoders =
      recognitionThreads(std::nullopt, std::thread::hardware_concurrency(), residentMemoryLimit());
  DecodeSlots slots(decoders, kMostConnections);
  WarmModels models(decoders);
  ServiceContext context{job.build, models, slots};

  // The models asked for at the start, a decoder of each loaded while the service already
  // answers.
  std::thread preload([&] {
    for (const ServiceModel& wanted : job.preload) {
      try {
        if (const auto identity = modelIdentity(wanted.files)) {
          if (auto model = models.modelFor(wanted.files, *identity)) model->keep(model->take());
        }
      } catch (...) {
        // A request for it will say what is wrong.
      }
    }
  });
  struct Join {
    std::thread& thread;
    ~Join() { thread.join(); }
  } const joinPreload{preload};

  sd_notify(0, "READY=1");
  ServiceSummary summary;
  Sessions sessions;
  auto lastActivity = Clock::now();
  for (;;) {
    const bool busy = sessions.active() > 0;
    if (busy) lastActivity = Clock::now();
    const auto idleFor = Clock::now() - lastActivity;
    if (!busy && idleFor >= job.idleExit) {
      summary.stopped = "idle";
      break;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(job.idleExit - idleFor);
    pollfd watched[] = {{place.listener(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
    const int timeout =
        busy ? 1000 : static_cast<int>(std::clamp<long long>(wait.count() + 1, 1, 1000));
    if (::poll(watched, 2, timeout) < 0 && errno != EINTR) {
      throw PlatformError(describeSystemError("The service cannot wait for requests", errno));
    }
    if ((watched[1].revents & POLLIN) != 0) {
      summary.stopped = "signal";
      break;
    }
    if ((watched[0].revents & POLLIN) == 0) continue;
    UniqueFd connection(::accept4(place.listener(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) continue;  // the peer went already, or descriptors ran short for now
    lastActivity = Clock::now();
    if (peerUser(connection.get()) != ::geteuid()) continue;  // another user's: closed unheard
    if (sessions.active() >= kMostConnections) {
      turnAway(connection.get());
      continue;
    }
    sessions.start(std::move(connection), context);
  }
  sessions.waitForAll();
  summary.requests = context.answered;
  return summary;
}

}  // namespace ondevice::platform
