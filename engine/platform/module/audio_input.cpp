#include "engine/platform/module/audio_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/system_error.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {
namespace {

constexpr int kBufferSize = 64 * 1024;

[[noreturn]] void notAudio(const std::string& path, const std::string& why) {
  throw UndecodableAudioError("Cannot open audio file " + path + ": " + why);
}

// The system ran short, whatever file was named.
[[noreturn]] void systemShortage(const std::string& path, const std::string& why) {
  throw PlatformError("Cannot open audio file " + path + ": " + why);
}

bool isSystemShortage(int error) { return error == EMFILE || error == ENFILE || error == ENOMEM; }

}  // namespace

AudioInput::AudioInput(const std::string& path) {
  // O_NONBLOCK: opening a FIFO waits for a writer without it. O_NOCTTY: a terminal named here
  // must not become the tool's controlling terminal.
  fd_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd_) {
    const int error = errno;
    if (isSystemShortage(error)) systemShortage(path, errnoText(error));
    notAudio(path, errnoText(error));
  }
  struct stat status {};
  if (::fstat(fd_.get(), &status) != 0) notAudio(path, errnoText(errno));
  if (S_ISDIR(status.st_mode)) notAudio(path, "it is a directory");
  if (!S_ISREG(status.st_mode)) notAudio(path, "it is not a regular file");
  if (status.st_size == 0) notAudio(path, "the file is empty");
  // A regular file never makes a read wait; cleared so that no read can answer EAGAIN.
  const int flags = ::fcntl(fd_.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    notAudio(path, errnoText(errno));
  }

  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (buffer == nullptr) systemShortage(path, "out of memory");
  io_ = avio_alloc_context(buffer, kBufferSize, /*write_flag=*/0, this, &AudioInput::read, nullptr,
                           &AudioInput::seek);
  if (io_ == nullptr) {
    av_free(buffer);
    systemShortage(path, "out of memory");
  }
}

AudioInput::~AudioInput() {
  if (io_ != nullptr) {
    av_freep(&io_->buffer);  // FFmpeg may have replaced the buffer it was given
    avio_context_free(&io_);
  }
}

int AudioInput::read(void* opaque, uint8_t* buffer, int size) {
  const int fd = static_cast<AudioInput*>(opaque)->fd_.get();
  for (;;) {
    const ssize_t count = ::read(fd, buffer, static_cast<size_t>(size));
    if (count > 0) return static_cast<int>(count);
    if (count == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int64_t AudioInput::seek(void* opaque, int64_t offset, int whence) {
  const int fd = static_cast<AudioInput*>(opaque)->fd_.get();
  if ((whence & AVSEEK_SIZE) != 0) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return AVERROR(errno);
    return status.st_size;
  }
  const off_t position = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
  return position < 0 ? AVERROR(errno) : position;
}

}  // namespace ondevice::platform
