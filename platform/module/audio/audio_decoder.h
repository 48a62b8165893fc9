#pragma once
// The codec side of an audio file: the demuxer's packets through the stream's decoder into
// frames. A packet the decoder refuses and a frame it cannot reconstruct are skipped, as a player
// would, whatever the decoder's reason; a decoder that keeps failing without being given
// anything new is stuck, and the audio ends there.
//
//   AudioDecoder decoder(demuxer);                       // throws PlatformError
//   while (const AVFrame* frame = decoder.nextFrame()) convert(*frame);

#include "platform/module/audio/audio_demuxer.h"
#include "platform/module/audio/ffmpeg_handles.h"

namespace ondevice::platform {

class AudioDecoder {
 public:
  // Opens the decoder of the demuxer's stream; throws UndecodableAudioError "Cannot open audio
  // file <path>: <why>" when the decoder refuses the stream, PlatformError when memory runs
  // out. The demuxer must outlive the decoder.
  explicit AudioDecoder(AudioDemuxer& demuxer);
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;

  // The next decoded frame, valid until the next call; null once the stream is exhausted.
  // Its best_effort_timestamp is in the stream's time base. Throws PlatformError only where
  // the demuxer does (the file cannot be read).
  const AVFrame* nextFrame();

  // Whether the demuxer has delivered any packet of the stream so far.
  bool sawPackets() const { return sawPackets_; }

  // Samples per frame of the codec, where it has a fixed size (AAC: 1024), else 0.
  int frameSize() const { return codec_->frame_size; }

 private:
  void feed();

  AudioDemuxer& demuxer_;
  ffmpeg::CodecContext codec_;
  ffmpeg::Packet packet_{av_packet_alloc()};
  ffmpeg::Frame frame_{av_frame_alloc()};
  bool demuxerDone_ = false;
  bool packetPending_ = false;  // read, but the decoder had no room for it yet
  bool finished_ = false;
  bool sawPackets_ = false;
  int failuresSinceFeed_ = 0;
};

}  // namespace ondevice::platform
