// The warm service with real speech: a transcription through a running service writes exactly
// the bytes an in-process run writes, for every file, in any order and at any concurrency, also
// when the model's files are replaced between requests; the service ends when told to or when
// idle, answering the requests in flight first, with one record.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/service_under_test.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing {
namespace {

namespace fs = std::filesystem;
using speech::sox;

ProcessResult transcribe(const fs::path& file, ProcessOptions options) {
  return runBinary({"transcribe", "--file", file.string()}, options);
}

ProcessOptions inProcess(ProcessOptions options) {
  options.environment["ONDEVICE_STT_SERVICE"] = "off";
  return options;
}

void expectSameRun(const ProcessResult& actual, const ProcessResult& expected,
                   const std::string& file) {
  EXPECT_EQ(actual.exitStatus, expected.exitStatus) << file;
  EXPECT_EQ(actual.out, expected.out) << file;
  EXPECT_EQ(actual.err, expected.err) << file;
}

// Speech of several kinds (a deep voice read raised, narrowband, noise), silence, a file that
// is no audio and one that is missing, with what an in-process run writes for each: what
// decoders carry from one request to the next, or the service from one file to the next, would
// show in one of them.
struct Files {
  std::vector<fs::path> paths;
  std::map<fs::path, ProcessResult> expected;
  size_t audio = 0;  // how many of them the service answers
};

Files filesIn(const fs::path& dir, const ProcessOptions& client) {
  Files files;
  const auto clips = speech::librivoxClips();
  for (const auto& clip : clips) files.paths.push_back(clip.path);
  const fs::path slowed = dir / "slowed.wav";
  sox({"-R", clips[1].path, slowed.string(), "speed", "0.9"});
  const fs::path narrow = dir / "narrow.wav";
  sox({"-R", clips[2].path, "-r", "8000", narrow.string()});
  const fs::path noisy = dir / "noisy.wav";
  speech::addNoise(clips[3].path, "pinknoise", 10, noisy);
  const fs::path silence = dir / "silence.wav";
  sox({"-n", "-r", "16000", "-b", "16", "-c", "1", silence.string(), "trim", "0", "3"});
  const fs::path text = dir / "notes.wav";
  writeText(text, "not audio at all\n");
  for (const fs::path& file : {slowed, narrow, noisy, silence}) files.paths.push_back(file);
  files.audio = files.paths.size();
  files.paths.push_back(text);
  files.paths.push_back(dir / "missing.wav");
  for (const fs::path& file : files.paths) {
    files.expected[file] = transcribe(file, inProcess(client));
  }
  return files;
}

std::string answered(size_t requests) {
  return "{\"requests\":" + std::to_string(requests) + ",\"stopped\":\"signal\"}\n";
}

TEST(ServiceSpeech, AnswersEveryFileAsInProcessInAnyOrder) {
  ScratchDirectory scratch;
  ServiceUnderTest service(scratch.path());
  const Files files = filesIn(scratch.path(), service.clientOptions());
  std::vector<fs::path> order = files.paths;
  for (const unsigned seed : {1u, 2u}) {
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    for (const fs::path& file : order) {
      expectSameRun(transcribe(file, service.clientOptions()), files.expected.at(file), file);
    }
  }
  const ProcessResult& end = service.stop();
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.err, "");
  EXPECT_EQ(end.out, answered(2 * files.audio));  // every audio file answered by the service
}

// All at once: more requests than decoders, so that most wait their turn.
TEST(ServiceSpeech, AnswersEveryFileAsInProcessAtOnce) {
  ScratchDirectory scratch;
  ServiceUnderTest service(scratch.path());
  const Files files = filesIn(scratch.path(), service.clientOptions());
  std::vector<std::unique_ptr<Process>> running;
  for (const fs::path& file : files.paths) {
    running.push_back(std::make_unique<Process>(
        binaryCommand({"transcribe", "--file", file.string()}), service.clientOptions()));
  }
  for (size_t i = 0; i < files.paths.size(); ++i) {
    expectSameRun(running[i]->wait(), files.expected.at(files.paths[i]), files.paths[i]);
  }
  EXPECT_EQ(service.stop().out, answered(files.audio));
}

// The model's dictionary replaced between two requests, as an install puts a new model in
// place: the second is answered with the new files, by the service.
TEST(ServiceSpeech, LoadsTheModelAnewWhenItsFilesChange) {
  ScratchDirectory scratch;
  const fs::path model = speech::linkSystemModel(scratch.path() / "model");
  const fs::path catalog = scratch.path() / "catalog.json";
  writeText(catalog, R"({"locales": {"en_US": {"system": ")" + model.string() + R"("}}})");
  ProcessOptions options;
  options.environment["ONDEVICE_STT_CATALOG"] = catalog.string();
  ServiceUnderTest service(scratch.path(), {}, options);
  ProcessOptions client = service.clientOptions();
  const fs::path clip = speech::librivoxClips().front().path;  // "Mr. John dashwood had ..."

  const ProcessResult before = transcribe(clip, client);
  expectSameRun(before, transcribe(clip, inProcess(client)), "before");
  // The same dictionary without "john", written beside and renamed into place.
  const fs::path dictionary = model / "cmudict-en-us.dict";
  std::string words = readText(fs::canonical(dictionary));
  for (size_t at = words.find("\njohn "); at != std::string::npos; at = words.find("\njohn ")) {
    words.erase(at + 1, words.find('\n', at + 1) - at);
  }
  writeText(scratch.path() / "new.dict", words);
  fs::rename(scratch.path() / "new.dict", dictionary);

  const ProcessResult after = transcribe(clip, client);
  expectSameRun(after, transcribe(clip, inProcess(client)), "after");
  EXPECT_NE(after.out, before.out);
  EXPECT_THAT(after.out, ::testing::Not(::testing::HasSubstr("John")));
  EXPECT_EQ(service.stop().out, answered(2));
}

// SIGTERM while a transcription is in flight: it is answered whole, then the service ends.
TEST(ServiceSpeech, EndsOnSigtermAfterTheRequestsInFlight) {
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  speech::joinClips(speech::librivoxClips(), 0.4, joined);
  ServiceUnderTest service(scratch.path());
  const ProcessResult expected = transcribe(joined, inProcess(service.clientOptions()));
  Process client(binaryCommand({"transcribe", "--file", joined.string()}), service.clientOptions());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // well inside its decoding
  const ProcessResult& end = service.stop();
  expectSameRun(client.wait(), expected, joined.string());
  EXPECT_EQ(end.out, answered(1));
}

TEST(ServiceIdle, EndsAfterItsIdleTimeWithOneRecord) {
  ScratchDirectory scratch;
  ServiceUnderTest service(scratch.path(), {"--idle-exit", "1"});
  const ProcessResult& end = service.wait();
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.out, "{\"requests\":0,\"stopped\":\"idle\"}\n");
  EXPECT_EQ(end.err, "");
  EXPECT_FALSE(fs::exists(service.socket()));
}

}  // namespace
}  // namespace ondevice::testing
