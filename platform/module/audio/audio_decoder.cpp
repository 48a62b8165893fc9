#include "platform/module/audio/audio_decoder.h"

#include "platform/api/platform_error.h"
#include "platform/module/audio/audio_limits.h"

namespace ondevice::platform {

using namespace ffmpeg;

AudioDecoder::AudioDecoder(AudioDemuxer& demuxer) : demuxer_(demuxer) {
  const auto fail = [&](const std::string& why) {
    throw PlatformError("Cannot open audio file " + demuxer_.path() + ": " + why);
  };
  if (!packet_ || !frame_) fail("out of memory");
  codec_.reset(avcodec_alloc_context3(&demuxer.decoder()));
  if (!codec_) fail("out of memory");
  int result = avcodec_parameters_to_context(codec_.get(), demuxer.stream().codecpar);
  // Frames then carry their time in the stream's time base, gaps included.
  codec_->pkt_timebase = demuxer.stream().time_base;
  if (result >= 0) result = avcodec_open2(codec_.get(), &demuxer.decoder(), nullptr);
  if (result < 0) {  // the stream's parameters are nothing this decoder can decode
    throw UndecodableAudioError("Cannot open audio file " + demuxer_.path() + ": " +
                                errorText(result));
  }
}

const AVFrame* AudioDecoder::nextFrame() {
  av_frame_unref(frame_.get());
  while (!finished_) {
    const int result = avcodec_receive_frame(codec_.get(), frame_.get());
    if (result == 0) {
      failuresSinceFeed_ = 0;
      return frame_.get();
    }
    if (result == AVERROR(EAGAIN) && !demuxerDone_) {
      feed();
    } else if (result == AVERROR_EOF || result == AVERROR(EAGAIN) ||
               ++failuresSinceFeed_ > kMostBrokenFrames) {
      finished_ = true;
    }
    // Any other failure dropped a frame the decoder could not reconstruct; the next may be fine.
  }
  return nullptr;
}

// Offers the decoder the stream's next packet; at the end of the input, drains it.
void AudioDecoder::feed() {
  for (;;) {
    if (!packetPending_ && !demuxer_.nextPacket(*packet_)) {
      demuxerDone_ = true;
      avcodec_send_packet(codec_.get(), nullptr);
      return;
    }
    sawPackets_ = true;
    failuresSinceFeed_ = 0;
    const int sent = avcodec_send_packet(codec_.get(), packet_.get());
    packetPending_ = sent == AVERROR(EAGAIN);  // offered again once frames are taken out
    if (packetPending_) return;
    av_packet_unref(packet_.get());
    if (sent >= 0) return;
    // A packet the decoder refuses is skipped; the demuxer moves on, so this always ends.
  }
}

}  // namespace ondevice::platform
