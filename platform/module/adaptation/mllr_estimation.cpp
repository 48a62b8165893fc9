#include "platform/module/adaptation/mllr_estimation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ondevice::platform {
namespace {

constexpr double kImpossible = -std::numeric_limits<double>::infinity();

double logSumExp(std::span<const double> values) {
  const double most = *std::max_element(values.begin(), values.end());
  if (most == kImpossible) return kImpossible;
  double sum = 0;
  for (const double value : values) sum += std::exp(value - most);
  return most + std::log(sum);
}

// Solves `matrix` x = `right` (n x n, row-major) by elimination with partial pivoting; none
// when the matrix is singular for practical purposes.
std::optional<std::vector<double>> solveLinear(std::vector<double> matrix,
                                               std::vector<double> right) {
  const size_t n = right.size();
  double scale = 0;
  for (size_t i = 0; i < n; ++i) scale = std::max(scale, std::abs(matrix[i * n + i]));
  if (scale == 0) return std::nullopt;
  for (size_t column = 0; column < n; ++column) {
    size_t pivot = column;
    for (size_t row = column + 1; row < n; ++row) {
      if (std::abs(matrix[row * n + column]) > std::abs(matrix[pivot * n + column])) pivot = row;
    }
    if (std::abs(matrix[pivot * n + column]) < 1e-10 * scale) return std::nullopt;
    if (pivot != column) {
      for (size_t k = 0; k < n; ++k) std::swap(matrix[pivot * n + k], matrix[column * n + k]);
      std::swap(right[pivot], right[column]);
    }
    for (size_t row = column + 1; row < n; ++row) {
      const double factor = matrix[row * n + column] / matrix[column * n + column];
      if (factor == 0) continue;
      for (size_t k = column; k < n; ++k) matrix[row * n + k] -= factor * matrix[column * n + k];
      right[row] -= factor * right[column];
    }
  }
  std::vector<double> x(n);
  for (size_t i = n; i-- > 0;) {
    double sum = right[i];
    for (size_t k = i + 1; k < n; ++k) sum -= matrix[i * n + k] * x[k];
    x[i] = sum / matrix[i * n + i];
  }
  return x;
}

}  // namespace

MllrEstimation::MllrEstimation(const AcousticModel& model) : model_(model) {
  for (int stream = 0; stream < model.streams(); ++stream) {
    featureWidth_ += model.streamWidth(stream);
  }
  size_t offset = 0;
  for (int phone = 0; phone < model.phones(); ++phone) {
    for (int stream = 0; stream < model.streams(); ++stream) {
      for (int density = 0; density < model.densities(); ++density) {
        sumOffsets_.push_back(offset);
        offset += static_cast<size_t>(model.streamWidth(stream));
      }
    }
  }
  occupation_.assign(sumOffsets_.size(), 0);
  weightedSums_.assign(offset, 0);
}

bool MllrEstimation::addWord(std::span<const float> features, int64_t frames, int64_t first,
                             int64_t last, std::span<const int> phones, int left, int right) {
  const auto width = static_cast<size_t>(featureWidth_);
  const int64_t states = static_cast<int64_t>(phones.size()) * AcousticModel::kStatesPerPhone;
  if (phones.empty() || first < 0 || last >= frames || last - first + 1 < states ||
      features.size() < static_cast<size_t>(frames) * width) {
    return false;
  }
  const auto length = static_cast<size_t>(last - first + 1);
  const int streams = model_.streams();
  const auto densities = static_cast<size_t>(model_.densities());

  // The log density of every Gaussian of each phone of the word, frame by frame; then each
  // state's log likelihood.
  std::vector<int> distinct(phones.begin(), phones.end());
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  const size_t perFrame = distinct.size() * static_cast<size_t>(streams) * densities;
  std::vector<double> logDensity(length * perFrame);
  for (size_t t = 0; t < length; ++t) {
    const float* frame = features.data() + (static_cast<size_t>(first) + t) * width;
    for (size_t p = 0; p < distinct.size(); ++p) {
      size_t dimension = 0;
      for (int stream = 0; stream < streams; ++stream) {
        const int streamWidth = model_.streamWidth(stream);
        for (size_t density = 0; density < densities; ++density) {
          const auto& gaussian = model_.gaussian(distinct[p], stream, static_cast<int>(density));
          double sum = 0;
          for (int d = 0; d < streamWidth; ++d) {
            const double difference =
                frame[dimension + static_cast<size_t>(d)] - gaussian.mean[static_cast<size_t>(d)];
            sum += difference * difference * gaussian.inverseVariance[static_cast<size_t>(d)];
          }
          logDensity[t * perFrame +
                     (p * static_cast<size_t>(streams) + static_cast<size_t>(stream)) * densities +
                     density] = gaussian.logNormaliser - 0.5 * sum;
        }
        dimension += static_cast<size_t>(streamWidth);
      }
    }
  }
  const auto slot = [&](int phone) {
    return static_cast<size_t>(std::lower_bound(distinct.begin(), distinct.end(), phone) -
                               distinct.begin());
  };
  const auto stateCount = static_cast<size_t>(states);
  // Each state's senone: the triphone's, in the word's context.
  std::vector<int> senoneOf(stateCount);
  for (size_t i = 0; i < phones.size(); ++i) {
    using Position = AcousticModel::Position;
    const bool firstPhone = i == 0;
    const bool lastPhone = i + 1 == phones.size();
    const Position position = firstPhone && lastPhone ? Position::singlePhoneWord
                              : firstPhone            ? Position::wordBegin
                              : lastPhone             ? Position::wordEnd
                                                      : Position::wordInternal;
    const auto senones = model_.senones(phones[i], firstPhone ? left : phones[i - 1],
                                        lastPhone ? right : phones[i + 1], position);
    for (size_t state = 0; state < senones.size(); ++state) {
      senoneOf[i * AcousticModel::kStatesPerPhone + state] = senones[state];
    }
  }
  std::vector<double> weighted(densities);
  // The terms of a state's mixture in one stream at one frame: each Gaussian's log density
  // and log weight.
  const auto mixtureTerms = [&](size_t t, size_t state, int stream, std::vector<double>& out) {
    const int phone = phones[state / AcousticModel::kStatesPerPhone];
    const double* densitiesOf =
        &logDensity[t * perFrame +
                    (slot(phone) * static_cast<size_t>(streams) + static_cast<size_t>(stream)) *
                        densities];
    for (size_t density = 0; density < densities; ++density) {
      out[density] = densitiesOf[density] +
                     model_.logWeight(senoneOf[state], stream, static_cast<int>(density));
    }
  };
  std::vector<double> stateScore(length * stateCount);
  for (size_t t = 0; t < length; ++t) {
    for (size_t state = 0; state < stateCount; ++state) {
      double score = 0;
      for (int stream = 0; stream < streams; ++stream) {
        mixtureTerms(t, state, stream, weighted);
        score += logSumExp(weighted);
      }
      stateScore[t * stateCount + state] = score;
    }
  }

  // Viterbi through the states left to right, each held at least one frame.
  std::vector<double> best(length * stateCount, kImpossible);
  std::vector<uint8_t> advanced(length * stateCount, 0);
  best[0] = stateScore[0];
  for (size_t t = 1; t < length; ++t) {
    for (size_t state = 0; state < stateCount; ++state) {
      const double stay = best[(t - 1) * stateCount + state];
      const double enter = state > 0 ? best[(t - 1) * stateCount + state - 1] : kImpossible;
      if (stay == kImpossible && enter == kImpossible) continue;
      advanced[t * stateCount + state] = enter > stay;
      best[t * stateCount + state] = std::max(stay, enter) + stateScore[t * stateCount + state];
    }
  }
  if (best[(length - 1) * stateCount + stateCount - 1] == kImpossible) return false;
  std::vector<size_t> path(length);
  for (size_t t = length, state = stateCount - 1; t-- > 0;) {
    path[t] = state;
    if (t > 0 && advanced[t * stateCount + state]) --state;
  }

  // Each frame's posterior over its state's Gaussians, stream by stream.
  for (size_t t = 0; t < length; ++t) {
    const int phone = phones[path[t] / AcousticModel::kStatesPerPhone];
    const float* frame = features.data() + (static_cast<size_t>(first) + t) * width;
    size_t dimension = 0;
    for (int stream = 0; stream < streams; ++stream) {
      mixtureTerms(t, path[t], stream, weighted);
      const double total = logSumExp(weighted);
      const auto streamWidth = static_cast<size_t>(model_.streamWidth(stream));
      for (size_t density = 0; density < densities; ++density) {
        const double posterior = std::exp(weighted[density] - total);
        if (posterior < 1e-5) continue;
        const size_t cell = (static_cast<size_t>(phone) * static_cast<size_t>(streams) +
                             static_cast<size_t>(stream)) *
                                densities +
                            density;
        occupation_[cell] += posterior;
        double* sums = &weightedSums_[sumOffsets_[cell]];
        for (size_t d = 0; d < streamWidth; ++d) sums[d] += posterior * frame[dimension + d];
      }
      dimension += streamWidth;
    }
  }
  alignedFrames_ += static_cast<int64_t>(length);
  return true;
}

std::optional<MeanTransform> MllrEstimation::solve() const {
  if (alignedFrames_ < kMinimumFrames) return std::nullopt;
  MeanTransform transform;
  const auto densities = static_cast<size_t>(model_.densities());
  const auto streams = static_cast<size_t>(model_.streams());
  for (size_t stream = 0; stream < streams; ++stream) {
    const int width = model_.streamWidth(static_cast<int>(stream));
    const auto n = static_cast<size_t>(width) + 1;  // the extended mean: 1, then the mean
    MeanTransform::Stream solved{width, std::vector<double>(static_cast<size_t>(width * width)),
                                 std::vector<double>(static_cast<size_t>(width))};
    for (size_t row = 0; row < static_cast<size_t>(width); ++row) {
      std::vector<double> g(n * n, 0);
      std::vector<double> k(n, 0);
      std::vector<double> extended(n);
      for (size_t phone = 0; phone < static_cast<size_t>(model_.phones()); ++phone) {
        for (size_t density = 0; density < densities; ++density) {
          const size_t cell = (phone * streams + stream) * densities + density;
          const double occupation = occupation_[cell];
          if (occupation <= 0) continue;
          const auto& gaussian = model_.gaussian(static_cast<int>(phone), static_cast<int>(stream),
                                                 static_cast<int>(density));
          extended[0] = 1;
          for (size_t d = 0; d + 1 < n; ++d) extended[d + 1] = gaussian.mean[d];
          const double precision = gaussian.inverseVariance[row];
          const double observed = weightedSums_[sumOffsets_[cell] + row];
          for (size_t i = 0; i < n; ++i) {
            k[i] += precision * observed * extended[i];
            for (size_t j = 0; j < n; ++j) {
              g[i * n + j] += precision * occupation * extended[i] * extended[j];
            }
          }
        }
      }
      const std::optional<std::vector<double>> w = solveLinear(std::move(g), std::move(k));
      if (!w) return std::nullopt;
      for (const double value : *w) {
        if (!std::isfinite(value)) return std::nullopt;
      }
      solved.bias[row] = (*w)[0];
      for (size_t column = 0; column + 1 < n; ++column) {
        solved.matrix[row * static_cast<size_t>(width) + column] = (*w)[column + 1];
      }
    }
    transform.streams.push_back(std::move(solved));
  }
  return transform;
}

}  // namespace ondevice::platform
