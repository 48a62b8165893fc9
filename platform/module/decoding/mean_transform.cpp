#include "platform/module/decoding/mean_transform.h"

#include <charconv>

namespace ondevice::platform {
namespace {

// Independent of the process's locale: the recogniser reads the numbers with "%f".
void append(std::string& text, double value) {
  char buffer[32];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 9);
  text.append(buffer, written.ptr);
  text += ' ';
}

}  // namespace

MeanTransform MeanTransform::identity(const std::vector<int>& widths) {
  MeanTransform transform;
  for (const int width : widths) {
    Stream stream{width, std::vector<double>(static_cast<size_t>(width * width)),
                  std::vector<double>(static_cast<size_t>(width))};
    for (int i = 0; i < width; ++i) stream.matrix[static_cast<size_t>(i * width + i)] = 1;
    transform.streams.push_back(std::move(stream));
  }
  return transform;
}

std::string MeanTransform::pocketSphinxText() const {
  std::string text = "1\n" + std::to_string(streams.size()) + "\n";
  for (const Stream& stream : streams) {
    text += std::to_string(stream.width) + "\n";
    for (int row = 0; row < stream.width; ++row) {
      for (int column = 0; column < stream.width; ++column) {
        append(text, stream.matrix[static_cast<size_t>(row * stream.width + column)]);
      }
      text += '\n';
    }
    for (const double value : stream.bias) append(text, value);
    text += '\n';
    for (int i = 0; i < stream.width; ++i) append(text, 1.0);
    text += '\n';
  }
  return text;
}

}  // namespace ondevice::platform
