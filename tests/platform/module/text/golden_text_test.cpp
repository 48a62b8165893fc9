// Golden transcripts: the readable text of every file of bench/readable_text's sets, written again
// from the segments the recogniser gave (checked in under golden/, see bench/text_goldens) and
// compared byte for byte with the text checked in beside them. A rule change shows here and as a
// diff of golden/SET.txt in review; after a deliberate one, write the texts again:
//
//   bench/text_goldens --tool build/bin/readable_text_cost

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/module/text/readable_text.h"

namespace ondevice::platform {
namespace {

const std::string kGolden = ONDEVICE_STT_SOURCE_DIR "/tests/platform/module/text/golden/";

UtteranceEnd endNamed(const std::string& name) {
  if (name == "pause") return UtteranceEnd::pause;
  if (name == "pauseWhenLong") return UtteranceEnd::pauseWhenLong;
  if (name == "cut") return UtteranceEnd::cut;
  if (name == "endOfStream") return UtteranceEnd::endOfStream;
  throw std::runtime_error("unknown end " + name);
}

// A line of a golden segments file: {"end": WHY, "words": [[WORD, PAUSE_MS, ODDS...], ...]}.
SpokenSegment segmentOf(const nlohmann::json& record) {
  SpokenSegment segment{{}, endNamed(record.at("end"))};
  for (const auto& word : record.at("words")) {
    SpokenWord spoken{word.at(0), word.at(1), std::nullopt};
    if (word.size() >= 3) spoken.odds = SentenceOdds{word[2], std::nullopt, std::nullopt};
    if (word.size() == 5) {
      spoken.odds->nextGoesOn = word[3].get<double>();
      spoken.odds->nextOpens = word[4].get<double>();
    }
    segment.words.push_back(std::move(spoken));
  }
  return segment;
}

struct GoldenFile {
  std::string name;
  std::vector<SpokenSegment> segments;
  std::vector<std::string> texts;  // as checked in
  size_t firstTextLine = 0;        // of the first text in SET.txt, from 1
};

std::vector<std::string> linesOf(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<GoldenFile> goldenFiles(const std::string& set) {
  std::vector<GoldenFile> files;
  for (const auto& line : linesOf(kGolden + set + ".segments.jsonl")) {
    const auto record = nlohmann::json::parse(line);
    if (record.contains("file")) {
      files.push_back({record["file"], {}, {}, 0});
    } else if (!files.empty()) {
      files.back().segments.push_back(segmentOf(record));
    } else {
      throw std::runtime_error(set + ".segments.jsonl: a segment before any file");
    }
  }
  const auto texts = linesOf(kGolden + set + ".txt");
  size_t file = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].starts_with("# ")) {
      if (file == files.size() || texts[i] != "# " + files[file].name) {
        throw std::runtime_error(set + ".txt line " + std::to_string(i + 1) + ": " + texts[i] +
                                 " is not the next file of " + set + ".segments.jsonl");
      }
      files[file++].firstTextLine = i + 2;
    } else if (file > 0) {
      files[file - 1].texts.push_back(texts[i]);
    }
  }
  if (file != files.size()) throw std::runtime_error(set + ".txt: files missing");
  return files;
}

std::string spokenWords(const SpokenSegment& segment) {
  std::string words;
  for (const auto& word : segment.words) words += (words.empty() ? "" : " ") + word.text;
  return words;
}

class GoldenText : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenText, IsWrittenAsCheckedIn) {
  const std::string& set = GetParam();
  const auto files = goldenFiles(set);
  ASSERT_FALSE(files.empty());
  int mismatches = 0;
  for (const auto& file : files) {
    ASSERT_EQ(file.texts.size(), file.segments.size())
        << set << ".txt holds " << file.texts.size() << " texts for " << file.name << ", its "
        << set << ".segments.jsonl " << file.segments.size() << " segments";
    ReadableText text;  // a fresh stage per file, as per transcription
    for (size_t i = 0; i < file.segments.size(); ++i) {
      const std::string written = text.write(file.segments[i]);
      if (written == file.texts[i] || ++mismatches > 20) continue;
      ADD_FAILURE() << set << ".txt line " << file.firstTextLine + i << " (" << file.name
                    << ", segment " << i + 1 << ")\n  spoken:  " << spokenWords(file.segments[i])
                    << "\n  golden:  " << file.texts[i] << "\n  written: " << written;
    }
  }
  EXPECT_EQ(mismatches, 0) << "segments written otherwise than " << set << ".txt (at most 20 "
                           << "shown); after a deliberate rule change: bench/text_goldens --tool "
                           << "build/bin/readable_text_cost";
}

INSTANTIATE_TEST_SUITE_P(, GoldenText,
                         ::testing::Values("librivox", "librivox-joined", "tuning", "kept-aside",
                                           "fish-fillets", "fish-fillets-kept-aside"),
                         [](const auto& info) {
                           std::string name;
                           for (const char c : info.param) name += c == '-' ? '_' : c;
                           return name;
                         });

}  // namespace
}  // namespace ondevice::platform
