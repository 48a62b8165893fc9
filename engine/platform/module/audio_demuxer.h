#pragma once
// The container side of an audio file: FFmpeg opens the file and nothing else, the best audio
// stream is chosen, every other stream is discarded, and that stream's packets are read one by
// one.
//
//   AudioDemuxer demuxer("talk.m4a");           // throws PlatformError
//   while (demuxer.nextPacket(*packet)) { decode(*packet); av_packet_unref(packet); }

#include <string>

#include "engine/platform/module/ffmpeg_handles.h"

namespace ondevice::platform {

class AudioDemuxer {
 public:
  // Throws PlatformError "Cannot open audio file <path>: <why>". A path that is not a non-empty
  // regular file (directory, FIFO, device) is refused before FFmpeg opens it, so that the tool
  // can never block on a FIFO without writer.
  explicit AudioDemuxer(const std::string& path);
  AudioDemuxer(const AudioDemuxer&) = delete;
  AudioDemuxer& operator=(const AudioDemuxer&) = delete;

  const std::string& path() const { return path_; }
  const AVStream& stream() const { return *format_->streams[streamIndex_]; }
  const AVCodec& decoder() const { return *decoder_; }

  // Reads the audio stream's next packet into `packet`; false at the end of the input, also
  // where a truncated or damaged tail ends it, as a player would. Throws PlatformError "Cannot
  // read <path>: <why>" for any other failure.
  bool nextPacket(AVPacket& packet);

 private:
  std::string path_;
  ffmpeg::IOContext io_;  // outlives format_, which reads through it
  ffmpeg::FormatContext format_;
  int streamIndex_ = -1;
  const AVCodec* decoder_ = nullptr;
};

}  // namespace ondevice::platform
