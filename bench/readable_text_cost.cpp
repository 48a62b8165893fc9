// What the readable text costs beside the decoding it follows. Runs the recognition pipeline on
// one thread (the audio, the noise gate, the segmenter and one decoder, without the reading of
// the voice) over each file, and measures on this thread's CPU clock the decoding, the language
// model's odds of sentence ends (the lookups a decode makes for its words, made again) and the
// written text. Prints one JSON line per file; with --segments, one line per utterance before it
// (its words, pauses, odds, end and written text), to study the judgement.
//
//   readable_text_cost MODEL_DIR FILE...   # MODEL_DIR holds en-us/, en-us.lm.bin, cmudict-en-us.dict

#include <time.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "engine/platform/module/audio/audio_file.h"
#include "engine/platform/module/audio/noise_gate.h"
#include "engine/platform/module/audio/utterance_segmenter.h"
#include "engine/platform/module/recognition/decoder_pool.h"
#include "engine/platform/module/recognition/pocketsphinx_decoder.h"
#include "engine/platform/module/speech_libraries.h"
#include "engine/platform/module/text/readable_text.h"

using namespace ondevice::platform;

namespace {

double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

const char* endName(SegmentEnd end) {
  switch (end) {
    case SegmentEnd::pause:
      return "pause";
    case SegmentEnd::pauseWhenLong:
      return "pauseWhenLong";
    case SegmentEnd::cut:
      return "cut";
    case SegmentEnd::endOfStream:
      return "endOfStream";
  }
  return "";
}

void printSegment(const SpokenSegment& segment, const std::string& written) {
  std::cout << "{\"end\":\"" << endName(segment.end) << "\",\"words\":[";
  for (size_t i = 0; i < segment.words.size(); ++i) {
    const SpokenWord& word = segment.words[i];
    std::cout << (i ? "," : "") << "[" << quoted(word.text) << "," << word.pauseAfterMs;
    if (word.odds) {
      std::cout << "," << word.odds->end;
      if (word.odds->nextGoesOn) std::cout << "," << *word.odds->nextGoesOn << "," << *word.odds->nextOpens;
    }
    std::cout << "]";
  }
  std::cout << "],\"written\":" << quoted(written) << "}\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  bool segments = false;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--segments") {
      segments = true;
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (argc < 3 || files.empty()) {
    std::cerr << "usage: readable_text_cost MODEL_DIR [--segments] FILE...\n";
    return 2;
  }
  setUpSpeechLibraries();
  const std::string model = argv[1];
  PocketSphinxDecoder decoder(
      ModelFiles{model + "/en-us", model + "/en-us.lm.bin", model + "/cmudict-en-us.dict"});

  for (const auto& path : files) {
    double decoding = 0;
    double odds = 0;
    double writing = 0;
    int words = 0;
    ReadableText text;
    const auto decode = [&](Utterance utterance) {
      double start = threadSeconds();
      auto recognised =
          recognisedUtterance(utterance, decoder.decode(utterance.samples, FrequencyWarp::none));
      decoding += threadSeconds() - start;
      if (!recognised) return;
      const auto& spoken = recognised->spoken.words;
      words += static_cast<int>(spoken.size());
      start = threadSeconds();
      for (size_t i = 0; i < spoken.size(); ++i) {
        if (!spoken[i].odds) continue;
        const bool last = i + 1 == spoken.size();
        decoder.sentenceOdds(i > 0 ? std::optional<std::string_view>(spoken[i - 1].text)
                                   : std::nullopt,
                             spoken[i].text,
                             last ? std::nullopt
                                  : std::optional<std::string_view>(spoken[i + 1].text));
      }
      odds += threadSeconds() - start;
      start = threadSeconds();
      const std::string written = text.write(recognised->spoken);
      writing += threadSeconds() - start;
      if (segments) printSegment(recognised->spoken, written);
    };
    auto file = openDecodedAudioFile(path);
    NoiseGate gate;
    UtteranceSegmenter segmenter;
    std::vector<int16_t> chunk;
    std::vector<int16_t> conditioned;
    while (file->read(chunk)) {
      gate.push(chunk, conditioned);
      segmenter.push(conditioned, decode);
      conditioned.clear();
    }
    gate.finish(conditioned);
    segmenter.push(conditioned, decode);
    segmenter.finish(decode);
    std::printf(
        "{\"file\":%s,\"words\":%d,\"decodingSeconds\":%.6f,\"oddsSeconds\":%.6f,"
        "\"writingSeconds\":%.6f}\n",
        quoted(path).c_str(), words, decoding, odds, writing);
    std::fflush(stdout);
  }
  return 0;
}
