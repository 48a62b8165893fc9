#pragma once
// The container side of an audio file: FFmpeg reads the file and nothing else, the best audio
// stream is chosen, every other stream is discarded, and that stream's packets are read one by
// one.
//
//   AudioDemuxer demuxer("talk.m4a");           // throws UndecodableAudioError, PlatformError
//   while (demuxer.nextPacket(*packet)) { decode(*packet); av_packet_unref(packet); }

#include <string>

#include "platform/module/audio/audio_input.h"
#include "platform/module/audio/ffmpeg_handles.h"

namespace ondevice::platform {

class AudioDemuxer {
 public:
  // Throws UndecodableAudioError "Cannot open audio file <path>: <why>" when the path is not a
  // non-empty regular file (refused through the descriptor it was opened as, without waiting on
  // a FIFO or reading a device) or holds no decodable audio stream; PlatformError when the
  // system runs short.
  explicit AudioDemuxer(AudioSource source);
  AudioDemuxer(const AudioDemuxer&) = delete;
  AudioDemuxer& operator=(const AudioDemuxer&) = delete;

  const std::string& path() const { return path_; }
  const AVStream& stream() const { return *format_->streams[streamIndex_]; }
  const AVCodec& decoder() const { return *decoder_; }
  // Whether a header of the container states the stream's length (stream().duration), rather
  // than FFmpeg estimating it from the timestamps or the bit rate, or not knowing it.
  bool statesLength() const;

  // Reads the audio stream's next packet into `packet`; false at the end of the input, also
  // where a truncated or damaged tail ends it, as a player would. Throws PlatformError "Cannot
  // read <path>: <why>" for any other failure.
  bool nextPacket(AVPacket& packet);

 private:
  std::string path_;
  AudioInput input_;  // outlives format_, which reads through it
  ffmpeg::FormatContext format_;
  int streamIndex_ = -1;
  const AVCodec* decoder_ = nullptr;
};

}  // namespace ondevice::platform
