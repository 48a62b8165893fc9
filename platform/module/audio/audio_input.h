#pragma once
// The bytes of an audio file, for FFmpeg to read. The file is opened once, without waiting (a
// FIFO without writer cannot block the tool), checked through the descriptor it was opened as,
// and read through that same descriptor: whatever the path names by the time FFmpeg reads, the
// bytes are those of the file that was checked.
//
//   AudioInput input("talk.m4a");     // throws UndecodableAudioError, or PlatformError
//   format->pb = input.context();     // FFmpeg reads and seeks through it

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/regular_file.h"
#include "base/unique_fd.h"
#include "platform/module/audio/ffmpeg_handles.h"

namespace ondevice::platform {

// What to read: the file at `path`, or one opened elsewhere and handed over (a transcription
// client passes its open descriptor to the service), which `path` then only names in messages.
struct AudioSource {
  std::string path;
  UniqueFd descriptor;  // none: open `path` here
};

class AudioInput {
 public:
  // Throws UndecodableAudioError "Cannot open audio file <path>: <why>" when the path names no
  // non-empty regular file that can be read (missing, a directory, a FIFO, a device, no
  // permission), and PlatformError when the system refuses for reasons of its own (no
  // descriptors or memory left).
  explicit AudioInput(AudioSource source);
  AudioInput(const AudioInput&) = delete;
  AudioInput& operator=(const AudioInput&) = delete;

  // The reading context over the descriptor; owned by this input, which must outlive every
  // user of it.
  AVIOContext* context() const { return io_.get(); }

  // The file's size when it was opened.
  std::uint64_t size() const { return file_.size(); }
  // Reads exactly `count` bytes at `offset`, leaving the context's position alone; false when
  // the file ends before or the read fails.
  bool readAt(void* buffer, std::size_t count, std::uint64_t offset) const {
    return file_.readExactlyAt(buffer, count, static_cast<off_t>(offset));
  }

 private:
  static int read(void* opaque, uint8_t* buffer, int size);
  static int64_t seek(void* opaque, int64_t offset, int whence);

  RegularFile file_;
  ffmpeg::IOContext io_;
};

}  // namespace ondevice::platform
