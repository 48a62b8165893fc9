#include "platform/module/service/service_session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <variant>

#include "base/framed_socket.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/api/speech_transcriber.h"
#include "platform/contract/service_protocol.h"
#include "platform/module/analysis/analyzer.h"
#include "platform/module/audio/audio_file.h"

namespace ondevice::platform {
namespace {

using service::Reply;

// How long a peer may take to send its next request: a client sends both at once, so anything
// slower is no client.
constexpr int kRequestTimeoutMs = 10'000;

// The replies of one connection, sent whole from any thread.
class Replies {
 public:
  explicit Replies(int socket) : socket_(socket) {}
  void send(const Reply& reply) {
    const std::lock_guard lock(mutex_);
    sendFrame(socket_, service::encode(reply));
  }

 private:
  int socket_;
  std::mutex mutex_;
};

Reply replyOf(Reply::Kind kind, std::string text = {}) {
  Reply reply;
  reply.kind = kind;
  reply.text = std::move(text);
  return reply;
}

Reply progress(bool queued, int64_t samples) {
  Reply reply = replyOf(Reply::Kind::progress);
  reply.queued = queued;
  reply.samples = samples;
  return reply;
}

// The file as the analysis reads it, counting what it has read for the progress reports.
class CountedAudioFile final : public AudioFile {
 public:
  explicit CountedAudioFile(std::unique_ptr<AudioFile> file) : file_(std::move(file)) {}
  bool read(std::vector<int16_t>& chunk) override {
    const bool more = file_->read(chunk);
    if (more) samples_ += static_cast<int64_t>(chunk.size());
    return more;
  }
  std::optional<MediaTime> lastSampleTime() const override { return file_->lastSampleTime(); }
  int64_t samples() const { return samples_; }

 private:
  std::unique_ptr<AudioFile> file_;
  std::atomic<int64_t> samples_{0};
};

// Reports progress every second while the analysis runs, so that the client knows the service
// is at work and how far it has read.
class ProgressReports {
 public:
  ProgressReports(Replies& replies, const CountedAudioFile& file)
      : thread_([this, &replies, &file] {
          std::unique_lock lock(mutex_);
          while (!stop_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
            try {
              replies.send(progress(false, file.samples()));
            } catch (const SystemFailure&) {
              return;  // the client has gone; the analysis ends on its own
            }
          }
        }) {}
  ~ProgressReports() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread thread_;
};

// A request the service cannot take: answered, and the connection ended.
struct Malformed {
  std::string why;
};

// The next request, of the kind expected now; none when the peer closed the connection.
// Throws Malformed for anything else.
template <typename Wanted>
std::optional<Wanted> receiveRequest(int socket, UniqueFd* descriptor) {
  auto frame = receiveFrame(socket, service::kMostRequestBytes, kRequestTimeoutMs);
  if (!frame) return std::nullopt;
  if (descriptor != nullptr) *descriptor = std::move(frame->descriptor);
  auto request = service::decodeRequest(frame->payload);
  if (!request) throw Malformed{"a malformed request"};
  if (!std::holds_alternative<Wanted>(*request)) throw Malformed{"a request out of turn"};
  return std::get<Wanted>(*std::move(request));
}

// Whether the transcription was answered whole.
bool transcribe(int socket, Replies& replies, ServiceContext& context) {
  UniqueFd audio;
  const auto open = receiveRequest<service::OpenRequest>(socket, &audio);
  if (!open) return false;
  if (!audio) throw Malformed{"an open request without the file's descriptor"};
  if (open->build != context.build) {
    replies.send(replyOf(Reply::Kind::declined, "the service is of another build"));
    return false;
  }
  std::unique_ptr<AudioFile> opened;
  try {
    opened = openDecodedAudioFile(AudioSource{open->path, std::move(audio)});
  } catch (const UndecodableAudioError& error) {
    replies.send(replyOf(Reply::Kind::undecodable, error.what()));
    return false;
  }
  CountedAudioFile file(std::move(opened));
  replies.send(replyOf(Reply::Kind::opened, context.build));

  const auto analyze = receiveRequest<service::AnalyzeRequest>(socket, nullptr);
  if (!analyze) return false;
  const std::shared_ptr<WarmModel> model =
      context.models.modelFor(analyze->model, analyze->identity);
  if (!model) {
    replies.send(replyOf(Reply::Kind::declined, "the service sees other model files"));
    return false;
  }
  if (!context.slots.acquireFirst([&] { replies.send(progress(true, 0)); })) {
    replies.send(replyOf(Reply::Kind::busy));
    return false;
  }
  auto decoders = std::make_shared<RequestDecoders>(model, context.slots);

  const auto transcriber = std::make_shared<SpeechTranscriber>(
      Locale(analyze->locale), TranscriptionOptions{}, ReportingOptions{}, AttributeOptions{});
  AnalyzerModel analyzerModel(analyze->model);
  analyzerModel.name = analyze->name;
  std::optional<MediaTime> last;
  {
    const ProgressReports reports(replies, file);
    auto analyzer = makeRecognitionAnalyzer(transcriber, std::move(analyzerModel),
                                            std::move(decoders), context.slots.capacity());
    last = analyzer->analyzeSequence(file);
    if (last) {
      analyzer->finalizeAndFinish(*last);
    } else {
      analyzer->cancelAndFinishNow();
    }
  }
  const auto results = transcriber->results();
  while (auto result = results->next()) {
    Reply reply = replyOf(Reply::Kind::result);
    reply.result = *std::move(result);
    replies.send(reply);
  }
  Reply finished = replyOf(Reply::Kind::finished);
  finished.last = last;
  replies.send(finished);
  return true;
}

}  // namespace

void serveConnection(UniqueFd connection, ServiceContext& context) noexcept {
  Replies replies(connection.get());
  try {
    if (transcribe(connection.get(), replies, context)) ++context.answered;
  } catch (const Malformed& malformed) {
    try {
      replies.send(replyOf(Reply::Kind::failed, "The service refused " + malformed.why));
    } catch (...) {
    }
  } catch (const PlatformError& error) {
    try {
      replies.send(replyOf(Reply::Kind::failed, error.what()));
    } catch (...) {
    }
  } catch (const SystemFailure&) {
    // The peer went, sent too much, or too slowly: nothing more to say to it.
  } catch (const std::exception& error) {
    try {
      replies.send(replyOf(Reply::Kind::failed, error.what()));
    } catch (...) {
    }
  } catch (...) {
  }
}

}  // namespace ondevice::platform
