#pragma once
// One owner per FFmpeg handle, and FFmpeg's error codes turned into words.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
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
// A custom reading context and its buffer, which FFmpeg may have replaced by one of its own.
struct IOContextFreer {
  void operator()(AVIOContext* context) const noexcept {
    av_freep(&context->buffer);
    avio_context_free(&context);
  }
};
// A block from av_malloc that no FFmpeg object owns yet.
struct BufferFreer {
  void operator()(unsigned char* buffer) const noexcept { av_free(buffer); }
};

using FormatContext = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Resampler = std::unique_ptr<SwrContext, ResamplerFreer>;
using Dictionary = std::unique_ptr<AVDictionary, DictionaryFreer>;
using IOContext = std::unique_ptr<AVIOContext, IOContextFreer>;
using Buffer = std::unique_ptr<unsigned char, BufferFreer>;

// A channel layout, which may own a map of its channels (a custom order).
class ChannelLayout {
 public:
  ChannelLayout() = default;
  ~ChannelLayout() { av_channel_layout_uninit(&layout_); }
  ChannelLayout(const ChannelLayout&) = delete;
  ChannelLayout& operator=(const ChannelLayout&) = delete;

  const AVChannelLayout& operator*() const { return layout_; }
  const AVChannelLayout* operator->() const { return &layout_; }
  // For FFmpeg functions that take a layout they do not change by a pointer to non-const.
  AVChannelLayout* get() { return &layout_; }

  // Becomes a copy of `other` (what it held is freed first); an FFmpeg error code, 0 on success.
  int copyFrom(const AVChannelLayout& other) { return av_channel_layout_copy(&layout_, &other); }
  // Becomes the usual layout of `channels` channels.
  void setDefault(int channels) {
    av_channel_layout_uninit(&layout_);
    av_channel_layout_default(&layout_, channels);
  }

 private:
  AVChannelLayout layout_{};
};

// FFmpeg's own text for an error code.
inline std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return text;
}

}  // namespace ondevice::platform::ffmpeg
