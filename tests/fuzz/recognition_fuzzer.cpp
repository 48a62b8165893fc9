// Recognition of arbitrary audio: the bytes are 16 kHz 16-bit samples, cut into utterances as
// the analyzer cuts them, and each utterance, and the whole input as one, is decoded by one
// PocketSphinx decoder with the installed US English model, loaded once (loading takes longer
// than thousands of decodes).
//
// Checked: decoding never fails on audio; the text has no filler or silence markers, no
// pronunciation variants and no stray blanks; the words lie inside the utterance, and so does
// the result made from them; the words handed to the text stage are the text's, and the
// readable text written from them, lower-cased and without the marks it added, is the text.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/module/audio/voice_activity_detector.h"
#include "platform/module/decoding/decoder_pool.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/speech_libraries.h"
#include "platform/module/text/readable_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using ondevice::platform::Utterance;
using ondevice::platform::UtteranceEnd;

constexpr const char* kModel = "/usr/share/pocketsphinx/model/en-us";

ondevice::platform::PocketSphinxDecoder& decoder() {
  static ondevice::platform::PocketSphinxDecoder instance(ondevice::platform::ModelFiles{
      std::string(kModel) + "/en-us", std::string(kModel) + "/en-us.lm.bin",
      std::string(kModel) + "/cmudict-en-us.dict"});
  return instance;
}

void checkText(const std::string& text) {
  if (text.empty()) return;
  FUZZ_CHECK(text.front() != ' ' && text.back() != ' ', text);
  FUZZ_CHECK(text.find("  ") == std::string::npos, text);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find(' ', start), text.size());
    const std::string word = text.substr(start, end - start);
    FUZZ_CHECK(!ondevice::platform::isFillerWord(word), text);
    FUZZ_CHECK(word.find('(') == std::string::npos, text);
    start = end + 1;
  }
}

// The readable text is the recogniser's words with only their case, ",", "." and "?" changed.
void checkReadable(const ondevice::platform::RecognisedSpeech& speech, UtteranceEnd end) {
  std::string joined;
  for (const auto& word : speech.words) joined += (joined.empty() ? "" : " ") + word.text;
  FUZZ_CHECK(joined == speech.text, speech.text);
  ondevice::platform::ReadableText readable;
  const std::string text = readable.write({speech.words, end});
  std::istringstream written(text);
  size_t count = 0;
  for (std::string word; written >> word; ++count) {
    FUZZ_CHECK(count < speech.words.size(), text);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string& spoken = speech.words[count].text;
    FUZZ_CHECK(
        word == spoken || word == spoken + "." || word == spoken + "?" || word == spoken + ",",
        text);
  }
  FUZZ_CHECK(count == speech.words.size(), text);
}

void decodeAndCheck(const Utterance& utterance) {
  const auto speech = decoder().decode(utterance.samples);
  checkText(speech.text);
  checkReadable(speech, UtteranceEnd::endOfStream);
  const auto length = static_cast<int64_t>(utterance.samples.size());
  if (speech.text.empty()) return;
  FUZZ_CHECK(speech.firstSample >= 0 && speech.firstSample <= speech.endSample, speech.text);
  const auto result =
      ondevice::platform::resultFor(utterance, speech.text, speech.firstSample, speech.endSample);
  FUZZ_CHECK(result.has_value() && result->isFinal && result->text == speech.text, speech.text);
  const int64_t start = result->range.start.value;
  const int64_t end = result->range.end().value;
  FUZZ_CHECK(result->range.start.timescale == 16000 && result->range.end().timescale == 16000,
             "timescale");
  FUZZ_CHECK(start >= utterance.startSample && start < end && end <= utterance.startSample + length,
             "a result outside its utterance");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ondevice::platform::setUpSpeechLibraries();
  decoder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Utterance whole;
  whole.samples.resize(size / 2);
  if (!whole.samples.empty()) std::memcpy(whole.samples.data(), data, whole.samples.size() * 2);
  decodeAndCheck(whole);

  ondevice::platform::VoiceActivityDetector detector;
  int64_t previousEnd = 0;
  const auto sink = [&](Utterance utterance) {
    FUZZ_CHECK(utterance.startSample >= previousEnd, "utterances overlap");
    previousEnd = utterance.startSample + static_cast<int64_t>(utterance.samples.size());
    FUZZ_CHECK(previousEnd <= static_cast<int64_t>(whole.samples.size()), "past the input");
    decodeAndCheck(utterance);
  };
  // In uneven chunks: the cuts must not depend on how the samples arrive.
  const std::span<const int16_t> samples(whole.samples);
  size_t at = 0;
  for (size_t step = 1; at < samples.size(); step = step * 3 + 1) {
    const size_t count = std::min(step, samples.size() - at);
    detector.push(samples.subspan(at, count), sink);
    at += count;
  }
  detector.finish(sink);
  return 0;
}
