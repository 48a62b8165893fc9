#pragma once
// A global MLLR transform of an acoustic model's Gaussian means, one affine map per feature
// stream: every mean mu of the stream is read as A mu + b. Estimated from a recording's own
// first decoding (adaptation/mllr_estimation.h) and applied by a decoder for a second one
// (UtteranceDecoder::adapt).
//
//   MeanTransform transform = MeanTransform::identity({13, 13, 13});
//   std::string text = transform.pocketSphinxText();   // the recogniser's "-mllr" file format

#include <string>
#include <vector>

namespace ondevice::platform {

struct MeanTransform {
  struct Stream {
    int width = 0;
    std::vector<double> matrix;  // A, row-major, width x width
    std::vector<double> bias;    // b
  };
  std::vector<Stream> streams;

  static MeanTransform identity(const std::vector<int>& widths);
  // One class, the streams in order, each as its width, A, b and a variance scale of ones.
  std::string pocketSphinxText() const;
};

}  // namespace ondevice::platform
