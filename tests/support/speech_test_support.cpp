#include "tests/support/speech_test_support.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "tests/support/json_check.h"
#include "tests/support/process.h"

namespace ondevice::testing::speech {

std::vector<Clip> librivoxClips() {
  // Lines read "<s> he was not an ill disposed young man </s> (name)".
  std::ifstream transcription(std::string(kLibrivox) + "/transcription");
  std::vector<Clip> clips;
  for (std::string line; std::getline(transcription, line);) {
    const size_t textStart = line.find("<s> ");
    const size_t textEnd = line.find(" </s> (");
    const size_t nameEnd = line.rfind(')');
    if (textStart == std::string::npos || textEnd == std::string::npos ||
        nameEnd == std::string::npos || nameEnd < textEnd) {
      continue;
    }
    const size_t nameStart = textEnd + 7;
    clips.push_back(
        Clip{std::string(kLibrivox) + "/" + line.substr(nameStart, nameEnd - nameStart) + ".wav",
             line.substr(textStart + 4, textEnd - textStart - 4)});
  }
  std::sort(clips.begin(), clips.end(),
            [](const Clip& a, const Clip& b) { return a.path < b.path; });
  return clips;
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> result;
  std::string word;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '\'') {
      word.push_back(static_cast<char>(std::tolower(byte)));
    } else if (!word.empty()) {
      result.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) result.push_back(std::move(word));
  return result;
}

size_t wordErrors(std::string_view reference, std::string_view hypothesis) {
  const auto said = words(reference);
  const auto heard = words(hypothesis);
  std::vector<size_t> row(heard.size() + 1);
  for (size_t j = 0; j <= heard.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= said.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= heard.size(); ++j) {
      const size_t above = row[j];
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (said[i - 1] == heard[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[heard.size()];
}

std::optional<Transcription> readTranscription(const std::string& out) {
  if (out.empty() || out.back() != '\n') return std::nullopt;
  const auto parsed = parseJson(std::string_view(out).substr(0, out.size() - 1), true);
  if (!parsed.value || !parsed.value->is_object() || parsed.value->size() != 5) return std::nullopt;
  const Json& record = *parsed.value;
  try {
    Transcription transcription{record.at("language").get<std::string>(),
                                record.at("result").get<std::string>(),
                                record.at("duration").get<double>(),
                                record.at("isAborted").get<bool>(),
                                {}};
    if (!record.at("segments").is_array()) return std::nullopt;
    for (const Json& item : record.at("segments")) {
      if (!item.is_object() || item.size() != 3) return std::nullopt;
      transcription.segments.push_back(Segment{item.at("t0").get<double>(),
                                               item.at("t1").get<double>(),
                                               item.at("text").get<std::string>()});
    }
    return transcription;
  } catch (const Json::exception&) {  // a key missing, or a value of another type
    return std::nullopt;
  }
}

std::filesystem::path linkSystemModel(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  const fs::path system = kModel;
  fs::create_directories(dir / "en-us");
  for (const auto& part : fs::directory_iterator(system / "en-us")) {
    fs::create_symlink(part.path(), dir / "en-us" / part.path().filename());
  }
  fs::create_symlink(system / "en-us.lm.bin", dir / "en-us.lm.bin");
  fs::create_symlink(system / "cmudict-en-us.dict", dir / "cmudict-en-us.dict");
  return dir;
}

void ffmpeg(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  runTool(argv);
}

void sox(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"sox"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  runTool(argv);
}

void joinClips(const std::vector<Clip>& clips, double pause, const std::filesystem::path& out) {
  const std::string silence = out.string() + ".pause.wav";
  sox({"-D", "-n", "-r", "16000", "-c", "1", "-b", "16", silence, "trim", "0",
       std::to_string(pause)});
  std::vector<std::string> arguments{"-D"};
  for (size_t i = 0; i < clips.size(); ++i) {
    if (i > 0) arguments.push_back(silence);
    arguments.push_back(clips[i].path);
  }
  arguments.push_back(out.string());
  sox(arguments);
  std::filesystem::remove(silence);
}

double soxDuration(const std::filesystem::path& file) {
  return std::strtod(runTool({"soxi", "-D", file.string()}).out.c_str(), nullptr);
}

int64_t soxSamples(const std::filesystem::path& file) {
  return std::stoll(runTool({"soxi", "-s", file.string()}).out);
}

namespace {

// The RMS amplitude sox's `stat` reports (1 is full scale).
double rmsAmplitude(const std::filesystem::path& file) {
  const std::string report = runTool({"sox", file.string(), "-n", "stat"}).err;
  const std::string label = "RMS     amplitude:";
  const size_t at = report.find(label);
  if (at == std::string::npos) throw std::runtime_error("sox stat said: " + report);
  return std::strtod(report.c_str() + at + label.size(), nullptr);
}

}  // namespace

void addNoise(const std::filesystem::path& speech, const std::string& noise, double snrDb,
              const std::filesystem::path& out) {
  const std::string noiseFile = out.string() + ".noise.wav";
  // As long as the speech; -R: the same noise every run.
  sox({"-R", speech.string(), noiseFile, "synth", noise});
  const double gain = rmsAmplitude(speech) / rmsAmplitude(noiseFile) * std::pow(10, -snrDb / 20);
  sox({"-R", "-m", "-v", "1", speech.string(), "-v", std::to_string(gain), noiseFile,
       out.string()});
  std::filesystem::remove(noiseFile);
}

}  // namespace ondevice::testing::speech
