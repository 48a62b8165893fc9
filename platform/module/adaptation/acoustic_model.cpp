#include "platform/module/adaptation/acoustic_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

#include "platform/api/platform_error.h"

namespace ondevice::platform {
namespace {

// The decoder's default: variances are floored at -varfloor.
constexpr double kVarianceFloor = 1e-4;

class ModelFile {
 public:
  ModelFile(const std::string& directory, const char* name) : name_(name) {
    std::ifstream in(directory + "/" + name, std::ios::binary);
    if (!in) fail("cannot be read");
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
  }

  [[noreturn]] void fail(const std::string& why) const {
    throw PlatformError("The acoustic model's " + name_ + " " + why);
  }
  void need(size_t count) const {
    if (count > bytes_.size() - offset_) fail("ends too early");
  }
  // A value in this machine's byte order (the files' own, checked where they mark it).
  template <typename Value>
  Value next() {
    need(sizeof(Value));
    Value value{};
    std::memcpy(&value, bytes_.data() + offset_, sizeof(Value));
    offset_ += sizeof(Value);
    return value;
  }
  int32_t int32() { return next<int32_t>(); }
  int32_t count(int32_t most) {
    const int32_t value = int32();
    if (value <= 0 || value > most) fail("holds an implausible size");
    return value;
  }
  uint8_t byte() {
    need(1);
    return static_cast<uint8_t>(bytes_[offset_++]);
  }
  std::string string() {  // nul-terminated
    const size_t end = bytes_.find('\0', offset_);
    if (end == std::string::npos) fail("ends too early");
    std::string value = bytes_.substr(offset_, end - offset_);
    offset_ = end + 1;
    return value;
  }
  std::string text(size_t count) {  // `count` bytes, up to a nul among them
    need(count);
    std::string value = bytes_.substr(offset_, count);
    offset_ += count;
    return value.substr(0, value.find('\0'));
  }
  void skip(size_t count) {
    need(count);
    offset_ += count;
  }
  void seek(size_t offset) {
    if (offset > bytes_.size()) fail("ends too early");
    offset_ = offset;
  }
  // Past a Sphinx-3 text header ("s3", name-value lines, "endhdr") and its byte order mark.
  void skipSphinxHeader() {
    const size_t end = bytes_.find("endhdr\n");
    if (bytes_.compare(0, 3, "s3\n") != 0 || end == std::string::npos) fail("has no header");
    offset_ = end + 7;
    if (int32() != 0x11223344) fail("is not in this machine's byte order");
  }
  size_t offset() const { return offset_; }

 private:
  std::string name_;
  std::string bytes_;
  size_t offset_ = 0;
};

struct GaussianTable {
  int codebooks = 0;
  std::vector<int> widths;
  int densities = 0;
  std::vector<float> values;  // codebook, stream, density, dimension
};

GaussianTable readGaussians(const std::string& directory, const char* name) {
  ModelFile file(directory, name);
  file.skipSphinxHeader();
  GaussianTable table;
  table.codebooks = file.count(256);
  const int32_t streams = file.count(8);
  table.densities = file.count(4096);
  int64_t perDensity = 0;
  for (int32_t i = 0; i < streams; ++i) {
    table.widths.push_back(file.count(128));
    perDensity += table.widths.back();
  }
  const int64_t total = int64_t{table.codebooks} * table.densities * perDensity;
  if (file.int32() != total) file.fail("holds another number of values than it says");
  file.need(static_cast<size_t>(total) * 4);
  table.values.resize(static_cast<size_t>(total));
  for (float& value : table.values) value = file.next<float>();
  return table;
}

}  // namespace

AcousticModel AcousticModel::load(const std::string& directory) {
  AcousticModel model;

  // mdef: the phone names, the triphone tree, and each phone's senone sequence.
  ModelFile mdef(directory, "mdef");
  if (mdef.int32() != 0x46444d42) mdef.fail("is not a binary model definition");  // "BMDF"
  (void)mdef.int32();                                                             // version
  mdef.skip(static_cast<size_t>(mdef.count(1 << 20)));  // the format's description
  const int32_t phones = mdef.count(256);
  const int32_t allPhones = mdef.count(1 << 24);
  if (mdef.int32() != kStatesPerPhone) mdef.fail("has phones of other than three states");
  (void)mdef.int32();  // context-independent senones
  model.senoneCount_ = mdef.count(1 << 20);
  (void)mdef.int32();  // transition matrices
  const int32_t sequences = mdef.count(1 << 24);
  (void)mdef.int32();  // context size
  const int32_t treeNodes = mdef.count(1 << 24);
  (void)mdef.int32();  // silence, found by name below
  const size_t namesStart = mdef.offset();
  for (int32_t i = 0; i < phones; ++i) model.phoneNames_.push_back(mdef.string());
  if (!std::is_sorted(model.phoneNames_.begin(), model.phoneNames_.end())) {
    mdef.fail("lists its phones out of order");
  }
  model.silence_ = model.phoneId("SIL");
  if (model.silence_ < 0) mdef.fail("has no silence phone");
  mdef.seek(namesStart + ((mdef.offset() - namesStart + 3) & ~size_t{3}));
  for (int32_t i = 0; i < treeNodes; ++i) {
    const int32_t packed = mdef.int32();  // two int16: the context, then the number of children
    TreeNode node{static_cast<int16_t>(packed & 0xffff), static_cast<int16_t>(packed >> 16),
                  mdef.int32()};
    model.tree_.push_back(node);
  }
  for (int32_t i = 0; i < allPhones; ++i) {
    const int32_t sequence = mdef.int32();
    if (sequence < 0 || sequence >= sequences) mdef.fail("names a senone sequence it lacks");
    model.sequenceOfPhone_.push_back(sequence);
    (void)mdef.int32();  // transition matrix
    const uint8_t filler = mdef.byte();
    mdef.skip(3);
    if (i < phones) model.fillers_.push_back(filler != 0);
  }
  if (mdef.int32() != sequences * kStatesPerPhone)
    mdef.fail("holds senone sequences of odd length");
  for (int32_t i = 0; i < sequences * kStatesPerPhone; ++i) {
    const int senone = mdef.byte() | (mdef.byte() << 8);
    if (senone >= model.senoneCount_) mdef.fail("names a senone it lacks");
    model.senoneSequences_.push_back(static_cast<uint16_t>(senone));
  }

  // means and variances: one codebook per context-independent phone.
  const GaussianTable means = readGaussians(directory, "means");
  const GaussianTable variances = readGaussians(directory, "variances");
  if (means.codebooks != phones || variances.codebooks != phones ||
      means.widths != variances.widths || means.densities != variances.densities) {
    throw PlatformError("The acoustic model is not phonetically tied");
  }
  model.streamWidths_ = means.widths;
  model.densities_ = means.densities;
  size_t at = 0;
  for (int32_t phone = 0; phone < phones; ++phone) {
    for (const int width : means.widths) {
      for (int density = 0; density < means.densities; ++density) {
        Gaussian gaussian;
        gaussian.logNormaliser = -0.5 * width * std::log(2 * std::numbers::pi);
        for (int d = 0; d < width; ++d, ++at) {
          const double variance = std::max<double>(variances.values[at], kVarianceFloor);
          gaussian.mean.push_back(means.values[at]);
          gaussian.inverseVariance.push_back(1 / variance);
          gaussian.logNormaliser -= 0.5 * std::log(variance);
        }
        model.gaussians_.push_back(std::move(gaussian));
      }
    }
  }

  // sendump: for each stream and density, one byte per senone.
  ModelFile sendump(directory, "sendump");
  for (int32_t length = sendump.count(999); length != 0; length = sendump.int32()) {
    if (length < 0 || length > 999) sendump.fail("has a damaged header");
    const std::string line = sendump.text(static_cast<size_t>(length));
    if (line.starts_with("cluster_count ") && line != "cluster_count 0") {
      sendump.fail("is clustered");
    }
  }
  if (sendump.int32() != model.densities_ || sendump.int32() != model.senoneCount_) {
    sendump.fail("does not match the model definition");
  }
  const size_t weights = model.streamWidths_.size() * static_cast<size_t>(model.densities_) *
                         static_cast<size_t>(model.senoneCount_);
  sendump.need(weights);
  model.weights_.resize(weights);
  for (uint8_t& weight : model.weights_) weight = sendump.byte();
  return model;
}

int AcousticModel::phoneIn(Position position, int phone, int left, int right) const {
  // Down the tree: the position among the first nodes, then the phone, the left context and the
  // right context among each node's children.
  const int16_t path[] = {static_cast<int16_t>(position), static_cast<int16_t>(phone),
                          static_cast<int16_t>(left), static_cast<int16_t>(right)};
  size_t first = 0;
  size_t count = 4;  // the positions
  for (const int16_t context : path) {
    if (first + count > tree_.size()) return -1;
    const auto node = std::find_if(tree_.begin() + static_cast<ptrdiff_t>(first),
                                   tree_.begin() + static_cast<ptrdiff_t>(first + count),
                                   [&](const TreeNode& n) { return n.context == context; });
    if (node == tree_.begin() + static_cast<ptrdiff_t>(first + count)) return -1;
    if (node->children <= 0) {
      return node->value >= 0 && static_cast<size_t>(node->value) < sequenceOfPhone_.size()
                 ? node->value
                 : -1;
    }
    first = static_cast<size_t>(node->value);
    count = static_cast<size_t>(node->children);
  }
  return -1;
}

std::array<int, AcousticModel::kStatesPerPhone> AcousticModel::senones(int phone, int left,
                                                                       int right,
                                                                       Position position) const {
  const auto context = [&](int other) {
    return other < 0 || other >= phones() || fillers_[static_cast<size_t>(other)] ? silence_
                                                                                  : other;
  };
  int found = phoneIn(position, phone, context(left), context(right));
  for (int other = 0; found < 0 && other < 4; ++other) {
    found = phoneIn(static_cast<Position>(other), phone, context(left), context(right));
  }
  if (found < 0) found = phone;
  const auto sequence = static_cast<size_t>(sequenceOfPhone_[static_cast<size_t>(found)]);
  std::array<int, kStatesPerPhone> states{};
  for (size_t state = 0; state < states.size(); ++state) {
    states[state] = senoneSequences_[sequence * kStatesPerPhone + state];
  }
  return states;
}

int AcousticModel::phoneId(std::string_view name) const {
  const auto found = std::lower_bound(phoneNames_.begin(), phoneNames_.end(), name);
  if (found == phoneNames_.end() || *found != name) return -1;
  return static_cast<int>(found - phoneNames_.begin());
}

}  // namespace ondevice::platform
