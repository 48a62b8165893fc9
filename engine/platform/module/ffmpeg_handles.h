#pragma once
// One owner per FFmpeg handle, and FFmpeg's error codes turned into words.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace ondevice::platform::ffmpeg {

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const noexcept { avformat_close_input(&context); }
};
struct CodecContextFreer {
  void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
struct ResamplerFreer {
  void operator()(SwrContext* context) const noexcept { swr_free(&context); }
};
struct DictionaryFreer {
  void operator()(AVDictionary* dictionary) const noexcept { av_dict_free(&dictionary); }
};

using FormatContext = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Resampler = std::unique_ptr<SwrContext, ResamplerFreer>;

// FFmpeg's own text for an error code.
inline std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return text;
}

}  // namespace ondevice::platform::ffmpeg
