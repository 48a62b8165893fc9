#include "platform/module/audio/wav_data_extent.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ondevice::platform {
namespace {

constexpr std::size_t kChunkHeaderSize = 8;  // identifier, then size (32 bits, little-endian)
// The chunks before the data in a WAV file are few (format, fact, a list or two, padding); a
// file with more before its data is not walked to the end.
constexpr int kMostChunksBeforeData = 64;

struct ChunkHeader {
  std::array<char, 4> id{};
  std::uint32_t size = 0;
};

std::optional<ChunkHeader> chunkAt(const AudioInput& input, std::uint64_t offset) {
  unsigned char bytes[kChunkHeaderSize];
  if (!input.readAt(bytes, sizeof bytes, offset)) return std::nullopt;
  ChunkHeader header;
  std::copy(bytes, bytes + 4, header.id.begin());
  header.size = static_cast<std::uint32_t>(bytes[4]) | static_cast<std::uint32_t>(bytes[5]) << 8 |
                static_cast<std::uint32_t>(bytes[6]) << 16 |
                static_cast<std::uint32_t>(bytes[7]) << 24;
  return header;
}

bool isId(const ChunkHeader& header, std::string_view id) {
  return std::string_view(header.id.data(), header.id.size()) == id;
}

// Chunk identifiers in use are letters, digits, spaces and underscores ("LIST", "id3 ",
// "_PMX"), and a chunk lies inside its file. Samples meet both only by rare chance: a
// quarter of byte values, four times over, and a size that fits the rest of the file.
bool isPlausibleChunk(const ChunkHeader& header, std::uint64_t bytesLeft) {
  const bool named = std::ranges::all_of(header.id, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '_';
  });
  return named && kChunkHeaderSize + std::uint64_t{header.size} <= bytesLeft;
}

// Chunks take an even number of bytes: one of odd size is followed by a pad byte.
std::uint64_t paddedSize(std::uint32_t size) { return std::uint64_t{size} + (size & 1); }

}  // namespace

bool wavSamplesRunPastDataChunk(const AudioInput& input) {
  const auto riff = chunkAt(input, 0);
  char wave[4];
  if (!riff || !isId(*riff, "RIFF") || !input.readAt(wave, sizeof wave, 8) ||
      std::string_view(wave, sizeof wave) != "WAVE") {
    return false;
  }
  const std::uint64_t fileSize = input.size();
  std::uint64_t offset = 12;
  for (int i = 0; i < kMostChunksBeforeData; ++i) {
    const auto chunk = chunkAt(input, offset);
    if (!chunk) return false;
    const std::uint64_t end = offset + kChunkHeaderSize + paddedSize(chunk->size);
    if (!isId(*chunk, "data")) {
      offset = end;
      continue;
    }
    if (chunk->size == 0 || chunk->size == UINT32_MAX) return false;
    if (end >= fileSize || fileSize - end < kChunkHeaderSize) return false;
    const auto next = chunkAt(input, end);
    return next && !isPlausibleChunk(*next, fileSize - end);
  }
  return false;
}

}  // namespace ondevice::platform
