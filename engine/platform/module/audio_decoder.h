#pragma once
// The codec side of an audio file: the demuxer's packets through the stream's decoder into
// frames. Packets the decoder finds corrupt are skipped and frames it cannot reconstruct are
// dropped, as a player would; a long run of broken frames ends the audio there.
//
//   AudioDecoder decoder(demuxer);                       // throws PlatformError
//   while (const AVFrame* frame = decoder.nextFrame()) convert(*frame);

#include "engine/platform/module/audio_demuxer.h"
#include "engine/platform/module/ffmpeg_handles.h"

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
  // Throws PlatformError "Cannot decode <path>: <why>" when decoding fails.
  const AVFrame* nextFrame();

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
  int brokenFrames_ = 0;  // in a row
};

}  // namespace ondevice::platform
