#include "platform/module/audio/audio_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/system_error.h"
#include "platform/api/platform_error.h"

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

AudioInput::AudioInput(AudioSource source)
    : file_(source.descriptor ? RegularFile::adopt(std::move(source.descriptor))
                              : RegularFile::open(source.path.c_str())) {
  const std::string& path = source.path;
  switch (file_.refusal()) {
    case RegularFile::Refusal::cannotOpen:
      if (isSystemShortage(file_.error())) systemShortage(path, errnoText(file_.error()));
      notAudio(path, errnoText(file_.error()));
    case RegularFile::Refusal::directory:
      notAudio(path, "it is a directory");
    case RegularFile::Refusal::notRegular:
      notAudio(path, "it is not a regular file");
    case RegularFile::Refusal::none:
      break;
  }
  if (file_.size() == 0) notAudio(path, "the file is empty");

  ffmpeg::Buffer buffer(static_cast<unsigned char*>(av_malloc(kBufferSize)));
  if (!buffer) systemShortage(path, "out of memory");
  io_.reset(avio_alloc_context(buffer.get(), kBufferSize, /*write_flag=*/0, this, &AudioInput::read,
                               nullptr, &AudioInput::seek));
  if (!io_) systemShortage(path, "out of memory");
  buffer.release();  // the context owns it now
}

int AudioInput::read(void* opaque, uint8_t* buffer, int size) {
  const ssize_t count =
      static_cast<AudioInput*>(opaque)->file_.read(buffer, static_cast<size_t>(size));
  if (count > 0) return static_cast<int>(count);
  if (count == 0) return AVERROR_EOF;
  return AVERROR(errno);
}

int64_t AudioInput::seek(void* opaque, int64_t offset, int whence) {
  const int fd = static_cast<AudioInput*>(opaque)->file_.fd();
  if ((whence & AVSEEK_SIZE) != 0) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return AVERROR(errno);
    return status.st_size;
  }
  const off_t position = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
  return position < 0 ? AVERROR(errno) : position;
}

}  // namespace ondevice::platform
