// What punctuation and truecasing cost beside the decoding they follow. Runs the recognition
// pipeline on one thread (the audio, the noise gate, voice activity detection and one decoder,
// without the VTLN probe) over each file, and measures on this thread's CPU clock the decoding,
// the language model's odds of sentence ends (the lookups a decode makes for its words, made
// again) and the written text. Prints one JSON line per file; with --segments, one line per
// utterance before it (its words, pauses, the odds after every word, end and written text), to
// study the judgement. With --replay, it writes such lines again with other settings (NAME=VALUE,
// the fields of SentenceSettings and, prefixed "comma.", of CommaSettings), one text per file,
// without decoding anything; settings not given keep their defaults. With --golden, it writes the
// golden text of a golden segments file, as bench/text_goldens does after a deliberate rule change.
//
//   readable_text_cost MODEL_DIR FILE...   # MODEL_DIR: en-us/, en-us.lm.bin, cmudict-en-us.dict
//   readable_text_cost MODEL_DIR --segments FILE... > segments.jsonl
//   readable_text_cost --replay segments.jsonl innerPauseMs=150 comma.pauseMs=60
//   readable_text_cost --golden tests/platform/module/text/golden/tuning.segments.jsonl

#include <time.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/module/audio/audio_file.h"
#include "platform/module/audio/noise_gate.h"
#include "platform/module/audio/voice_activity_detector.h"
#include "platform/module/decoding/decoder_pool.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/speech_libraries.h"
#include "platform/module/text/readable_text.h"

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

const char* endName(UtteranceEnd end) {
  switch (end) {
    case UtteranceEnd::pause:
      return "pause";
    case UtteranceEnd::pauseWhenLong:
      return "pauseWhenLong";
    case UtteranceEnd::cut:
      return "cut";
    case UtteranceEnd::endOfStream:
      return "endOfStream";
  }
  return "";
}

// The shortest form that reads back as the same double, so that a replay judges as the run did.
std::string exact(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void printSegment(const SpokenSegment& segment, const std::string& written) {
  std::cout << "{\"end\":\"" << endName(segment.end) << "\",\"words\":[";
  for (size_t i = 0; i < segment.words.size(); ++i) {
    const SpokenWord& word = segment.words[i];
    std::cout << (i ? "," : "") << "[" << quoted(word.text) << "," << word.pauseAfterMs;
    if (word.odds) {
      std::cout << "," << exact(word.odds->end);
      if (word.odds->nextGoesOn) {
        std::cout << "," << exact(*word.odds->nextGoesOn) << "," << exact(*word.odds->nextOpens);
      }
    }
    std::cout << "]";
  }
  std::cout << "],\"written\":" << quoted(written) << "}\n";
}

UtteranceEnd endNamed(const std::string& name) {
  for (const auto end : {UtteranceEnd::pause, UtteranceEnd::pauseWhenLong, UtteranceEnd::cut,
                         UtteranceEnd::endOfStream}) {
    if (name == endName(end)) return end;
  }
  throw std::runtime_error("unknown end " + name);
}

// Settings given as NAME=VALUE, over the defaults: the fields of SentenceSettings and of
// CommaSettings (the latter prefixed "comma.").
void setSetting(const std::string& assignment, SentenceSettings& sentences, CommaSettings& commas) {
  const size_t equals = assignment.find('=');
  const std::string name = assignment.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
  if (name == "endAfterPause") {
    sentences.endAfterPause = std::stod(value);
  } else if (name == "endAfterShortPause") {
    sentences.endAfterShortPause = std::stod(value);
  } else if (name == "endAtCut") {
    sentences.endAtCut = std::stod(value);
  } else if (name == "innerPauseMs") {
    sentences.innerPauseMs = std::stoi(value);
  } else if (name == "innerMargin") {
    sentences.innerMargin = std::stod(value);
  } else if (name == "pauseWeight") {
    sentences.pauseWeight = std::stod(value);
  } else if (name == "comma.pauseMs") {
    commas.pauseMs = std::stoi(value);
  } else if (name == "comma.beforeNames") {
    commas.beforeNames = value == "1";
  } else if (name == "comma.afterAddress") {
    commas.afterAddress = value == "1";
  } else {
    throw std::runtime_error("unknown setting " + assignment);
  }
}

// A segment of a --segments line.
SpokenSegment segmentOf(const nlohmann::json& record) {
  SpokenSegment segment{{}, endNamed(record["end"])};
  for (const auto& word : record["words"]) {
    SpokenWord spoken{word[0], word[1], std::nullopt};
    if (word.size() >= 3) spoken.odds = SentenceOdds{word[2], std::nullopt, std::nullopt};
    if (word.size() == 5) {
      spoken.odds->nextGoesOn = word[3].get<double>();
      spoken.odds->nextOpens = word[4].get<double>();
    }
    segment.words.push_back(spoken);
  }
  return segment;
}

// Writes the segments of --segments lines again with other settings: one line of text per file.
int replay(const char* path, const SentenceSettings& settings, const CommaSettings& commas) {
  std::ifstream in(path);
  std::optional<ReadableText> text;
  std::string written;
  for (std::string line; std::getline(in, line);) {
    const auto record = nlohmann::json::parse(line);
    if (record.contains("file")) {
      std::cout << written << "\n";
      written.clear();
      text.reset();
      continue;
    }
    if (!text) text.emplace(settings, commas);
    if (!written.empty()) written += ' ';
    written += text->write(segmentOf(record));
  }
  return 0;
}

// Writes the golden text of a golden segments file (tests/platform/module/text/golden/, where
// each file's line comes before its segments): "# FILE", then each segment's text on a line.
int golden(const char* path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  std::optional<ReadableText> text;
  for (std::string line; std::getline(in, line);) {
    const auto record = nlohmann::json::parse(line);
    if (record.contains("file")) {
      std::cout << "# " << record["file"].get<std::string>() << "\n";
      text.emplace();
      continue;
    }
    if (!text) throw std::runtime_error(std::string(path) + ": a segment before any file");
    std::cout << text->write(segmentOf(record)) << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--golden") return golden(argv[2]);
  if (argc >= 3 && std::string(argv[1]) == "--replay") {
    SentenceSettings sentences;
    CommaSettings commas;
    for (int i = 3; i < argc; ++i) setSetting(argv[i], sentences, commas);
    return replay(argv[2], sentences, commas);
  }
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
        decoder.sentenceOdds(
            i > 0 ? std::optional<std::string_view>(spoken[i - 1].text) : std::nullopt,
            spoken[i].text,
            last ? std::nullopt : std::optional<std::string_view>(spoken[i + 1].text));
      }
      odds += threadSeconds() - start;
      start = threadSeconds();
      const std::string written = text.write(recognised->spoken);
      writing += threadSeconds() - start;
      if (segments) {
        // The odds at every word, for replays that judge other boundaries than the stage does.
        auto studied = recognised->spoken;
        for (size_t i = 0; i < studied.words.size(); ++i) {
          if (studied.words[i].odds) continue;
          studied.words[i].odds = decoder.sentenceOdds(
              i > 0 ? std::optional<std::string_view>(studied.words[i - 1].text) : std::nullopt,
              studied.words[i].text,
              i + 1 < studied.words.size()
                  ? std::optional<std::string_view>(studied.words[i + 1].text)
                  : std::nullopt);
        }
        printSegment(studied, written);
      }
    };
    auto file = openDecodedAudioFile(path);
    NoiseGate gate;
    VoiceActivityDetector detector;
    std::vector<int16_t> chunk;
    std::vector<int16_t> conditioned;
    while (file->read(chunk)) {
      gate.push(chunk, conditioned);
      detector.push(conditioned, decode);
      conditioned.clear();
    }
    gate.finish(conditioned);
    detector.push(conditioned, decode);
    detector.finish(decode);
    std::printf(
        "{\"file\":%s,\"words\":%d,\"decodingSeconds\":%.6f,\"oddsSeconds\":%.6f,"
        "\"writingSeconds\":%.6f}\n",
        quoted(path).c_str(), words, decoding, odds, writing);
    std::fflush(stdout);
  }
  return 0;
}
