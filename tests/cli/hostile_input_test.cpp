// The binary against everything hostile a host, a file or the machine can hand it: malformed
// and enormous arguments, strange paths, broken audio, closed streams and a store that cannot
// be written. Whatever the input, a run ends on its own within a bound, with status 0 and one
// record line on standard output, or status 1 and one error record line on standard error, and
// nothing else on either stream.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/asset_test_support.h"
#include "tests/support/json_check.h"
#include "tests/support/process.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::runBinary;
using testing::assets::ScratchDirectory;

constexpr auto kBound = std::chrono::seconds(60);
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD
const std::string kVersion = "{\"backend\":\"SpeechAnalyzer\",\"minimumMacOS\":\"26.0\"}\n";

// The shape every run must have, whatever it was given.
void expectOneRecord(const ProcessResult& r) {
  ASSERT_FALSE(r.timedOut) << "no end within the bound";
  ASSERT_EQ(r.signal, 0) << "killed by a signal";
  ASSERT_TRUE(r.exitStatus == 0 || r.exitStatus == 1) << "status " << r.exitStatus;
  if (r.exitStatus == 0) {
    EXPECT_EQ(testing::checkRecordLine(r.out), "") << r.out;
    EXPECT_EQ(r.err, "");
    return;
  }
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(testing::checkRecordLine(r.err), "") << r.err;
  const testing::Json error = testing::Json::parse(r.err);
  ASSERT_EQ(error.size(), 1u) << r.err;
  ASSERT_TRUE(error.contains("error")) << r.err;
  ASSERT_TRUE(error.at("error").is_string()) << r.err;
  EXPECT_FALSE(error.at("error").get<std::string>().empty());
}

// The decoded text of `key` in the record of a run that has the shape above.
std::string field(const ProcessResult& r, const std::string& key) {
  const std::string& line = r.exitStatus == 0 ? r.out : r.err;
  if (line.empty()) return "<nothing written>";
  const auto parsed = testing::parseJson(line.substr(0, line.size() - 1)).value;
  if (!parsed) return "<not JSON>";
  if (!parsed->contains(key)) return "<no " + key + ">";
  const testing::Json& value = parsed->at(key);
  return value.is_string() ? value.get<std::string>() : value.dump();
}

ProcessResult run(const std::vector<std::string>& arguments, ProcessOptions options = {}) {
  options.timeout = kBound;
  return runBinary(arguments, options);
}

std::string shown(const std::vector<std::string>& arguments) {
  std::string text;
  for (const auto& a : arguments) {
    text +=
        "[" + (a.size() > 60 ? a.substr(0, 60) + "...(" + std::to_string(a.size()) + ")" : a) + "]";
  }
  return text;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string randomBytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto& b : bytes) b = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string speechFile() {
  return "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
}

// ---------------------------------------------------------------------------------------------
// Arguments

TEST(HostileInput, Arguments) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string key;       // a field of the record to check, "" for none
    std::string expected;  // its decoded value
  };
  const std::string huge(100000, 'x');  // most of what one argument may hold (128 KiB)
  const std::string hugePath = "/nonexistent/" + std::string(100000 - 13, 'p');
  const std::vector<Case> cases = {
      // Bytes that are not UTF-8 reach the host as U+FFFD, one per byte.
      {{"\xFF\xFE\x80"},
       1,
       "error",
       "Unsupported command: " + kReplacement + kReplacement + kReplacement},
      {{"is-available", "--language", "en\xC3(US"}, 0, "language", "en" + kReplacement + "(US"},
      {{"prepare", "--language", "\xED\xA0\x80"},
       1,
       "error",
       "Locale not supported: " + kReplacement + kReplacement + kReplacement},
      {{huge}, 1, "error", "Unsupported command: " + huge},
      {{"is-available", "--language", huge}, 0, "language", huge},
      {{"transcribe", "--no-prepare", "--file", hugePath},
       1,
       "error",
       "Invalid audio file: " + hugePath},
      {{"--"}, 1, "error", "Unsupported command: --"},
      {{"version", "--"}, 0, "backend", "SpeechAnalyzer"},
      {{"transcribe", "--"}, 1, "error", "Missing required argument: file"},
      {{""}, 1, "error", "Unsupported command: "},
      {{"", "", ""}, 1, "error", "Unsupported command: "},
      {{"is-available", "", "--language", ""}, 0, "language", ""},
      {{"transcribe", "--file", "", "--language", ""}, 1, "error", "Locale not supported: "},
      {{"transcribe", "--file", "", "--no-prepare"}, 1, "error", "Invalid audio file: "},
      // "--no-prepare" followed by "" is an option, so preparation runs for en_US first.
      {{"transcribe", "", "--", "", "--file", "", "--no-prepare", ""},
       1,
       "error",
       "Invalid audio file: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.arguments));
    const ProcessResult r = run(c.arguments);
    expectOneRecord(r);
    EXPECT_EQ(r.exitStatus, c.status);
    if (!c.key.empty()) {
      EXPECT_EQ(field(r, c.key), c.expected);
    }
  }
}

TEST(HostileInput, HundredThousandArguments) {
  std::vector<std::string> flags{"version"};
  for (int i = 0; flags.size() < 100000; ++i) flags.push_back("--key" + std::to_string(i));
  const ProcessResult version = run(flags);
  expectOneRecord(version);
  EXPECT_EQ(version.out, kVersion);

  // The last of 49 999 --file options wins.
  std::vector<std::string> files{"transcribe", "--no-prepare"};
  for (int i = 0; files.size() < 100000; ++i) {
    files.push_back("--file");
    files.push_back("/nonexistent/" + std::to_string(i));
  }
  const ProcessResult transcribe = run(files);
  expectOneRecord(transcribe);
  EXPECT_EQ(field(transcribe, "error"), "Invalid audio file: /nonexistent/49998");
}

// ---------------------------------------------------------------------------------------------
// Paths: each names something that is not audio, so the answer is always invalidAudio with the
// path exactly as given.

TEST(HostileInput, Paths) {
  ScratchDirectory scratch;
  const fs::path dir = scratch.path();
  const auto notAudio = [&](const std::string& name) {
    writeBytes(dir / name, "this is not audio\n");
    return (dir / name).string();
  };
  const std::string loop = (dir / "loop").string();
  fs::create_symlink(dir / "loop2", dir / "loop");
  fs::create_symlink(dir / "loop", dir / "loop2");
  const std::string dangling = (dir / "dangling").string();
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  writeBytes(dir / "-rf.wav", "not audio");

  struct Case {
    std::string path;
    std::optional<std::string> workingDirectory;
  };
  const std::vector<Case> cases = {
      {notAudio("say \"hi\" 'there'.wav"), {}},
      {notAudio("back\\slash.wav"), {}},
      {notAudio("new\nline.wav"), {}},
      {notAudio("tab\tand\rreturn.wav"), {}},
      {notAudio("caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E.wav"), {}},
      {notAudio("colon:file:.wav"), {}},
      {"-rf.wav", dir.string()},
      {"./-rf.wav", dir.string()},
      {loop, {}},
      {dangling, {}},
      {fifo, {}},
      {"/dev/zero", {}},
      {"/dev/urandom", {}},
      {"/dev/null", {}},
      {"/dev/stdin", {}},
      {dir.string(), {}},
      {dir.string() + "/", {}},
      {notAudio("file.wav") + "/", {}},
      {"/nonexistent/dir/a.wav", {}},
      {"~/a.wav", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    // Nothing here needs reading: refusing must not wait on a writer or read a device, so the
    // bound is short.
    ProcessOptions options;
    options.workingDirectory = c.workingDirectory;
    options.timeout = std::chrono::seconds(20);
    const ProcessResult r = runBinary({"transcribe", "--no-prepare", "--file", c.path}, options);
    expectOneRecord(r);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(field(r, "error"), "Invalid audio file: " + c.path);
  }

  // Bytes that are not UTF-8 in the path: the file is still found (refused as not audio), and
  // the host reads U+FFFD in their place.
  const std::string bad = notAudio("\xFF\xFE.wav");
  const ProcessResult r = run({"transcribe", "--no-prepare", "--file", bad});
  expectOneRecord(r);
  EXPECT_EQ(field(r, "error"),
            "Invalid audio file: " + dir.string() + "/" + kReplacement + kReplacement + ".wav");

  // A leading "--" makes the path a key, so no file was given.
  const ProcessResult key = run({"transcribe", "--no-prepare", "--file", "--x.wav"});
  expectOneRecord(key);
  EXPECT_EQ(field(key, "error"), "Missing required argument: file");
}

// ---------------------------------------------------------------------------------------------
// Audio

struct WavHeader {
  uint16_t format = 1;  // PCM
  uint16_t channels = 1;
  uint32_t sampleRate = 16000;
  uint16_t bitsPerSample = 16;
  std::optional<uint32_t> blockAlign;  // default channels * bits / 8
  std::optional<uint32_t> byteRate;    // default rate * block align
  std::optional<uint32_t> dataSize;    // default the real size
  std::optional<uint32_t> riffSize;    // default the real size
};

std::string little(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

template <typename Change>
WavHeader header(Change change) {
  WavHeader h;
  change(h);
  return h;
}

std::string wav(const WavHeader& h, const std::string& data) {
  const uint32_t block = h.blockAlign.value_or(h.channels * h.bitsPerSample / 8);
  const uint32_t byteRate =
      h.byteRate.value_or(static_cast<uint32_t>(static_cast<uint64_t>(h.sampleRate) * block));
  const std::string fmt = little(h.format, 2) + little(h.channels, 2) + little(h.sampleRate, 4) +
                          little(byteRate, 4) + little(block, 2) + little(h.bitsPerSample, 2);
  const std::string body = "WAVEfmt " + little(fmt.size(), 4) + fmt + "data" +
                           little(h.dataSize.value_or(data.size()), 4) + data;
  return "RIFF" + little(h.riffSize.value_or(body.size()), 4) + body;
}

// Half a second of a quiet sine at 16 kHz, 16-bit.
std::string toneSamples(double seconds = 0.5, int rate = 16000) {
  std::string data;
  const int count = static_cast<int>(seconds * rate);
  for (int i = 0; i < count; ++i) {
    const auto sample = static_cast<int16_t>(2000 * std::sin(i * 2 * 3.14159265 * 440 / rate));
    data += little(static_cast<uint16_t>(sample), 2);
  }
  return data;
}

void ffmpeg(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const ProcessResult r = testing::runProcess(argv);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
}

TEST(HostileInput, Audio) {
  ScratchDirectory scratch;
  const fs::path dir = scratch.path();
  ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:duration=2", "-c:a", "libmp3lame",
          (dir / "whole.mp3").string()});
  ffmpeg({"-f", "lavfi", "-i", "testsrc=duration=1:size=64x64:rate=5", "-an", "-c:v", "mpeg4",
          (dir / "video-only.mp4").string()});
  const std::string mp3 = readBytes(dir / "whole.mp3");
  const std::string tone = toneSamples();
  const std::string goodWav = wav(WavHeader(), tone);

  struct Case {
    std::string name;
    std::string bytes;
    std::optional<int> status;  // when the outcome is certain; 1 means refused as not audio
  };
  const uint32_t gigabytes = 0xFFFFFFF0u;
  const std::vector<Case> cases = {
      {"empty.wav", "", 1},
      {"header-cut.wav", goodWav.substr(0, 30), 1},
      {"data-cut.wav", goodWav.substr(0, 44 + 1001), {}},  // odd: the last sample is half there
      {"header-only.mp3", mp3.substr(0, 100), {}},
      {"cut.mp3", mp3.substr(0, mp3.size() / 3), {}},
      {"claims-gigabytes.wav",
       wav(header([&](WavHeader& h) {
             h.dataSize = gigabytes;
             h.riffSize = gigabytes;
           }),
           tone),
       {}},
      // An INFO chunk that claims 1.6 GB: the demuxer must not allocate what it claims.
      {"info-claims-gigabytes.wav",
       goodWav.substr(0, 36) + "LIST" + little(0xA0000001u, 4) + "INFOISFT" +
           little(1677733944u, 4) + "Lavf" + goodWav.substr(36),
       1},
      {"random.wav", randomBytes(65536, 1), {}},
      {"random.mp3", randomBytes(65536, 2), {}},
      {"random-after-header.wav", goodWav.substr(0, 44) + randomBytes(32000, 3), {}},
      {"video-only.mp4", readBytes(dir / "video-only.mp4"), 1},
      {"zero-channels.wav",
       wav(header([](WavHeader& h) {
             h.channels = 0;
             h.blockAlign = 2;
           }),
           tone),
       1},
      // More channels than any decoder takes: refused when the decoder is opened.
      {"thousand-channels.wav", wav(header([](WavHeader& h) { h.channels = 1000; }), tone), 1},
      {"zero-rate.wav", wav(header([](WavHeader& h) { h.sampleRate = 0; }), tone), 1},
      {"one-hertz.wav",
       wav(header([](WavHeader& h) { h.sampleRate = 1; }), tone.substr(0, 20)),
       {}},
      // A sample rate no audio has is refused when the file is opened, before the resampler
      // would spend a gigabyte and seconds on it.
      {"top-rate.wav", wav(header([](WavHeader& h) { h.sampleRate = 0x7FFFFFFF; }), tone), 1},
      {"gigahertz.wav", wav(header([](WavHeader& h) { h.sampleRate = 1077944064; }), tone), 1},
      {"gigahertz-8-bit.wav",
       wav(header([](WavHeader& h) {
             h.sampleRate = 1077944064;
             h.bitsPerSample = 8;
           }),
           tone.substr(0, 500)),
       1},
      {"hundred-megahertz.wav", wav(header([](WavHeader& h) { h.sampleRate = 100000007; }), tone),
       1},
      {"negative-rate.wav", wav(header([](WavHeader& h) { h.sampleRate = 0xFFFFFFFF; }), tone), 1},
      {"zero-bits.wav",
       wav(header([](WavHeader& h) {
             h.bitsPerSample = 0;
             h.blockAlign = 2;
           }),
           tone),
       {}},
      {"odd-bits.wav", wav(header([](WavHeader& h) { h.bitsPerSample = 7; }), tone), {}},
      {"zero-block.wav", wav(header([](WavHeader& h) { h.blockAlign = 0; }), tone), {}},
      {"unknown-format.wav", wav(header([](WavHeader& h) { h.format = 0x1234; }), tone), {}},
      {"float-nan.wav",
       wav(header([](WavHeader& h) {
             h.format = 3;  // IEEE float: all-ones bytes are NaN samples
             h.bitsPerSample = 32;
           }),
           std::string(16000, '\xFF')),
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / c.name;
    writeBytes(path, c.bytes);
    const ProcessResult r = run({"transcribe", "--no-prepare", "--file", path.string()});
    expectOneRecord(r);
    if (c.status) {
      EXPECT_EQ(r.exitStatus, *c.status) << r.out << r.err;
    }
    if (c.status == 1) {
      // Refused when opened (a failure during the analysis would carry its own words).
      EXPECT_EQ(field(r, "error"), "Invalid audio file: " + path.string());
    }
    if (r.exitStatus == 0) {
      // Whatever was decoded lies within what the bytes can hold.
      const double duration = std::strtod(field(r, "duration").c_str(), nullptr);
      EXPECT_GE(duration, 0.0);
      EXPECT_LT(duration, 600.0);
    }
  }
}

TEST(HostileInput, FilesThatNameOtherFiles) {
  // Playlists and concatenation lists make a demuxer open the files they name. An audio file is
  // its own bytes: what it names is never opened, so a FIFO without writer behind it cannot
  // block the tool and a device behind it cannot feed it forever.
  ScratchDirectory scratch;
  const fs::path dir = scratch.path();
  ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
  fs::create_symlink("/dev/urandom", dir / "noise.wav");
  writeBytes(dir / "speech.wav", readBytes(speechFile()));
  const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"fifo.m3u8", hls + "fifo.wav\n#EXT-X-ENDLIST\n"},
      {"fifo-playlist.wav", hls + "fifo.wav\n#EXT-X-ENDLIST\n"},
      {"noise.m3u8", hls + "noise.wav\n#EXT-X-ENDLIST\n"},
      {"speech.m3u8", hls + "speech.wav\n#EXT-X-ENDLIST\n"},
      {"fifo.ffconcat", "ffconcat version 1.0\nfile fifo.wav\n"},
      {"speech.ffconcat", "ffconcat version 1.0\nfile speech.wav\n"},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    writeBytes(dir / name, text);
    ProcessOptions options;
    options.timeout = std::chrono::seconds(20);
    const ProcessResult r = testing::runBinary(
        {"transcribe", "--no-prepare", "--file", (dir / name).string()}, options);
    expectOneRecord(r);
    EXPECT_EQ(field(r, "error"), "Invalid audio file: " + (dir / name).string());
  }
}

TEST(HostileInput, AudioPathSwappedWithAFifo) {
  // The path names a WAV one moment and a FIFO without writer the next: a thread swaps the two
  // (renameat2 RENAME_EXCHANGE) while the tool runs. Whatever the path names when the file is
  // opened is what is checked and read, so every run ends on its own, as a result or as
  // invalid audio.
  ScratchDirectory scratch;
  const fs::path audio = scratch.path() / "audio.wav";
  const fs::path other = scratch.path() / "other";
  writeBytes(audio, wav(WavHeader(), std::string(16000, '\0')));  // silence: no model is loaded
  ASSERT_EQ(::mkfifo(other.c_str(), 0600), 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) ::renameat2(AT_FDCWD, audio.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
  });
  // Before the file was checked through its descriptor, about one run in twenty hung.
  constexpr int kRuns = 100;
  int results = 0;
  int refusals = 0;
  for (int i = 0; i < kRuns; ++i) {
    SCOPED_TRACE(i);
    ProcessOptions options;
    options.timeout = std::chrono::seconds(30);
    const ProcessResult r =
        testing::runBinary({"transcribe", "--no-prepare", "--file", audio.string()}, options);
    expectOneRecord(r);
    if (r.exitStatus == 0) ++results;
    if (r.exitStatus == 1) {
      ++refusals;
      EXPECT_EQ(field(r, "error"), "Invalid audio file: " + audio.string());
    }
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(results + refusals, kRuns);
}

// ---------------------------------------------------------------------------------------------
// Streams

enum class Sink { captured, closed, readerGone };

// Runs the binary with standard output and standard error each captured into a file, closed,
// or a pipe whose reader has gone. Standard input is closed too when asked.
ProcessResult runWithStreams(const std::vector<std::string>& arguments, Sink out, Sink err,
                             bool closeInput = false) {
  ScratchDirectory scratch;
  const fs::path outFile = scratch.path() / "out";
  const fs::path errFile = scratch.path() / "err";
  const auto open = [](Sink sink, const fs::path& file) {
    if (sink == Sink::captured) return ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (sink == Sink::readerGone) {
      int fds[2];
      if (::pipe(fds) != 0) return -1;
      ::close(fds[0]);
      return fds[1];
    }
    return -1;
  };
  const int outFd = open(out, outFile);
  const int errFd = open(err, errFile);
  std::vector<std::string> args{testing::binaryPath()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    if (closeInput) {
      ::close(0);
    } else {
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
    }
    if (outFd >= 0) {
      ::dup2(outFd, 1);
    } else {
      ::close(1);
    }
    if (errFd >= 0) {
      ::dup2(errFd, 2);
    } else {
      ::close(2);
    }
    if (outFd > 2) ::close(outFd);
    if (errFd > 2) ::close(errFd);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (outFd >= 0) ::close(outFd);
  if (errFd >= 0) ::close(errFd);

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  if (out == Sink::captured) result.out = readBytes(outFile);
  if (err == Sink::captured) result.err = readBytes(errFile);
  return result;
}

TEST(HostileInput, StandardOutputGone) {
  // A result that cannot be written is a failure, reported on standard error.
  const std::vector<std::vector<std::string>> commands = {
      {"version"},
      {"is-available"},
      {"transcribe", "--no-prepare", "--file", speechFile()},
  };
  for (const Sink sink : {Sink::closed, Sink::readerGone}) {
    for (const auto& command : commands) {
      SCOPED_TRACE(shown(command) + (sink == Sink::closed ? " stdout closed" : " reader gone"));
      const ProcessResult r = runWithStreams(command, sink, Sink::captured);
      ASSERT_FALSE(r.timedOut);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.exitStatus, 1);
      EXPECT_EQ(testing::checkRecordLine(r.err), "") << r.err;
    }
  }
  // A failure is still reported where it belongs.
  const ProcessResult failed = runWithStreams({"bogus"}, Sink::closed, Sink::captured);
  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_EQ(failed.err, "{\"error\":\"Unsupported command: bogus\"}\n");
}

TEST(HostileInput, StandardErrorGone) {
  for (const Sink sink : {Sink::closed, Sink::readerGone}) {
    SCOPED_TRACE(sink == Sink::closed ? "stderr closed" : "reader gone");
    const ProcessResult ok = runWithStreams({"version"}, Sink::captured, sink);
    EXPECT_EQ(ok.signal, 0);
    EXPECT_EQ(ok.exitStatus, 0);
    EXPECT_EQ(ok.out, kVersion);

    const ProcessResult failed = runWithStreams(
        {"transcribe", "--no-prepare", "--file", "/nonexistent.wav"}, Sink::captured, sink);
    EXPECT_EQ(failed.signal, 0);
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_EQ(failed.out, "");
  }
}

TEST(HostileInput, AllStreamsClosed) {
  // Every file the tool opens then lands on 0, 1 or 2; none of them may receive the record.
  ScratchDirectory scratch;
  const fs::path copy = scratch.path() / "speech.wav";
  fs::copy_file(speechFile(), copy);
  const std::string before = readBytes(copy);
  for (const auto& command : std::vector<std::vector<std::string>>{
           {"transcribe", "--no-prepare", "--file", copy.string()},
           {"transcribe", "--file", copy.string()},
           {"bogus"}}) {
    SCOPED_TRACE(shown(command));
    const ProcessResult r = runWithStreams(command, Sink::closed, Sink::closed, true);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, 1);
  }
  EXPECT_EQ(readBytes(copy), before);
}

TEST(HostileInput, FileSizeLimit) {
  // Standard output and standard error go to files under a 1 KiB size limit (ulimit -f 1): a
  // record that does not fit fails the run (status 1, never a death by SIGXFSZ), and no part of
  // it stays behind in the file.
  ScratchDirectory scratch;
  const std::string language(3000, 'x');
  const std::string tooLarge =
      "{\"error\":\"Unable to write the result to standard output: File too large\"}\n";
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    std::string redirection;  // of the shell command, with $OUT and $ERR
    std::string before;       // what $OUT holds at the start
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"a record that fits", {"version"}, ">\"$OUT\" 2>\"$ERR\"", "", 0, kVersion, ""},
      {"a result that does not fit",
       {"is-available", "--language", language},
       ">\"$OUT\" 2>\"$ERR\"",
       "",
       1,
       "",
       tooLarge},
      // Nothing can be reported: the status alone says the run failed.
      {"an error record that does not fit",
       {"prepare", "--language", language},
       ">\"$OUT\" 2>\"$ERR\"",
       "",
       1,
       "",
       ""},
      // Both streams appending to one file that already holds a line: the line stays, the
      // partial result goes, the error record follows the line.
      {"one file for both streams",
       {"is-available", "--language", language},
       ">>\"$OUT\" 2>&1",
       "an earlier line\n",
       1,
       "an earlier line\n" + tooLarge,
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = scratch.path() / "out";
    const fs::path err = scratch.path() / "err";
    writeBytes(out, c.before);
    writeBytes(err, "");
    std::vector<std::string> argv{"bash", "-c", "ulimit -f 1; exec \"$0\" \"$@\" " + c.redirection,
                                  testing::binaryPath()};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    ProcessOptions options;
    options.environment = {{"OUT", out.string()}, {"ERR", err.string()}};
    options.timeout = kBound;
    const ProcessResult r = testing::runProcess(argv, options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, c.status) << r.err;
    EXPECT_EQ(readBytes(out), c.out);
    EXPECT_EQ(readBytes(err), c.err);
  }
}

// ---------------------------------------------------------------------------------------------
// The speech module and the model: a run that cannot recognise ends with a record that says
// why, never as invalid audio and never without a record.

TEST(HostileInput, SpeechModuleThatCannotBeLoaded) {
  // The binary copied beside a module that is garbage, cut short, or missing.
  ScratchDirectory scratch;
  const fs::path binary = scratch.path() / "ondevice-stt";
  const fs::path module = scratch.path() / "ondevice-stt-speech.so";
  fs::copy_file(testing::binaryPath(), binary);
  const std::string realModule =
      readBytes(fs::path(testing::binaryPath()).parent_path() / "ondevice-stt-speech.so");
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"garbage", "garbage\n"},
      {"cut short", realModule.substr(0, 4096)},
      {"only its header", realModule.substr(0, 64)},
      {"missing", std::nullopt},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    fs::remove(module);
    if (bytes) writeBytes(module, *bytes);
    const ProcessResult available = testing::runProcess({binary.string(), "is-available"});
    expectOneRecord(available);
    EXPECT_EQ(available.out, "{\"available\":false,\"language\":\"en_US\"}\n");

    const ProcessResult r = testing::runProcess(
        {binary.string(), "transcribe", "--no-prepare", "--file", speechFile()});
    expectOneRecord(r);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(field(r, "error").starts_with("The speech module could not be loaded: ")) << r.err;
  }
  // The module itself, copied beside the binary, is loadable.
  writeBytes(module, realModule);
  ::chmod(module.c_str(), 0755);
  const ProcessResult available = testing::runProcess({binary.string(), "is-available"});
  EXPECT_EQ(available.out, "{\"available\":true,\"language\":\"en_US\"}\n");
}

TEST(HostileInput, MalformedModel) {
  // The system model with its model definition replaced: PocketSphinx ends the process from the
  // decoder thread that loads it (exit() on "garbage", a fault on a file cut in half). The run
  // still ends with exactly one error record, saying what failed.
  ScratchDirectory scratch;
  const fs::path model = scratch.path() / "model";
  const fs::path system = testing::assets::kSystemModel;
  fs::create_directories(model / "en-us");
  for (const auto& part : fs::directory_iterator(system / "en-us")) {
    fs::create_symlink(part.path(), model / "en-us" / part.path().filename());
  }
  fs::create_symlink(system / "en-us.lm.bin", model / "en-us.lm.bin");
  fs::create_symlink(system / "cmudict-en-us.dict", model / "cmudict-en-us.dict");
  const fs::path catalog = scratch.path() / "catalog.json";
  testing::assets::CatalogLine line;
  line.system = model.string();
  writeBytes(catalog, testing::assets::catalogJson({line}));
  const std::string mdef = readBytes(system / "en-us" / "mdef");

  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"garbage", "garbage\n"}, {"cut in half", mdef.substr(0, mdef.size() / 2)}}) {
    SCOPED_TRACE(name);
    fs::remove(model / "en-us" / "mdef");
    writeBytes(model / "en-us" / "mdef", bytes);
    ProcessOptions options;
    options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()},
                           {"ONDEVICE_STT_ASSETS", (scratch.path() / "store").string()}};
    const ProcessResult r = run({"transcribe", "--no-prepare", "--file", speechFile()}, options);
    expectOneRecord(r);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(field(r, "error"),
              "The speech recogniser stopped the run: the speech model for en_US could not be "
              "loaded.");
  }
}

// ---------------------------------------------------------------------------------------------
// Store: prepare against a catalog whose en_US model must be downloaded from a server of the
// test's own, into a store that cannot take it.

// A tmpfs mounted for the test's lifetime; empty when the machine does not allow mounting.
class TemporaryMount {
 public:
  TemporaryMount(const fs::path& at, unsigned long flags, const std::string& options) : at_(at) {
    fs::create_directories(at);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", flags, options.c_str()) == 0;
  }
  TemporaryMount(const TemporaryMount&) = delete;
  TemporaryMount& operator=(const TemporaryMount&) = delete;
  ~TemporaryMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

class HostileStore : public ::testing::Test {
 protected:
  // A model of the three parts, with `bytes` of incompressible data in it, archived and served.
  void serveModel(size_t bytes) {
    const fs::path model = scratch_.path() / "model";
    fs::create_directories(model / "en-us");
    writeBytes(model / "en-us" / "mdef", randomBytes(bytes, 7));
    writeBytes(model / "en-us.lm.bin", "language model");
    writeBytes(model / "cmudict-en-us.dict", "hello HH AH L OW\n");
    fs::create_directories(served_);
    const fs::path archive = served_ / "en_US.tar.gz";
    testing::assets::makeModelArchive(model, archive, "tar.gz");
    server_.emplace(served_);
    testing::assets::CatalogLine line;
    line.archive = server_->url("ok", "en_US.tar.gz");
    line.sha256 = testing::assets::sha256Hex(archive);
    line.size = testing::assets::fileSize(archive);
    writeBytes(catalog_, testing::assets::catalogJson({line}));
  }

  ProcessResult prepare(const fs::path& store) {
    ProcessOptions options;
    options.environment = {{"ONDEVICE_STT_CATALOG", catalog_.string()},
                           {"ONDEVICE_STT_ASSETS", store.string()}};
    return run({"prepare"}, options);
  }

  static bool installed(const fs::path& store) {
    std::error_code ignored;
    return fs::exists(store / "en_US" / ".installed", ignored);
  }

  ScratchDirectory scratch_;
  fs::path served_ = scratch_.path() / "served";
  fs::path catalog_ = scratch_.path() / "catalog.json";
  std::optional<testing::assets::AssetServer> server_;
};

TEST_F(HostileStore, ReadOnlyStore) {
  serveModel(1000);
  const fs::path store = scratch_.path() / "read-only";
  TemporaryMount mount(store, MS_RDONLY, "size=1m");
  if (!mount.mounted()) {
    // Without a mount, permissions make the store read-only, except for root.
    if (::geteuid() == 0) GTEST_SKIP() << "cannot mount a read-only file system here";
    fs::permissions(store, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const ProcessResult r = prepare(store);
  expectOneRecord(r);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(fs::is_empty(store));
  if (!mount.mounted()) fs::permissions(store, fs::perms::owner_all);
}

TEST_F(HostileStore, NearlyFullStore) {
  // Too small for the download; then room for the download but not for its extraction.
  for (const size_t modelBytes : {400u * 1024u, 150u * 1024u}) {
    SCOPED_TRACE(modelBytes);
    serveModel(modelBytes);
    const fs::path store = scratch_.path() / ("small-" + std::to_string(modelBytes));
    TemporaryMount mount(store, 0, "size=256k");
    if (!mount.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second resumes what is left
      const ProcessResult r = prepare(store);
      expectOneRecord(r);
      EXPECT_EQ(r.exitStatus, 1);
      EXPECT_FALSE(installed(store));
    }
    server_.reset();
  }
}

TEST_F(HostileStore, StoreThatIsNoDirectory) {
  serveModel(1000);
  const fs::path file = scratch_.path() / "a-file";
  writeBytes(file, "not a directory");
  const fs::path strayFile = scratch_.path() / "locale-is-a-file";
  fs::create_directories(strayFile);
  writeBytes(strayFile / "en_US", "not a model");
  writeBytes(strayFile / "en_US.lock", "");
  const fs::path partialIsDirectory = scratch_.path() / "partial-is-a-directory";
  fs::create_directories(partialIsDirectory / "en_US.partial");

  // A store that cannot hold a directory fails; leftovers inside a store are the store's own
  // to replace. Either way, installed means complete.
  for (const fs::path& store : {file, file / "below", strayFile, partialIsDirectory}) {
    SCOPED_TRACE(store);
    const ProcessResult r = prepare(store);
    expectOneRecord(r);
    if (store.parent_path() == file || store == file) {
      EXPECT_EQ(r.exitStatus, 1);
    }
    EXPECT_EQ(installed(store), r.exitStatus == 0) << r.out << r.err;
  }
  EXPECT_EQ(readBytes(file), "not a directory");
}

TEST(HostileInput, EmptyEnvironment) {
  // A host may start the tool with no environment at all; the installed US English model is
  // then still found, through the account's home directory.
  ProcessOptions options;
  options.unsetEnvironment = {"HOME", "XDG_DATA_HOME", "ONDEVICE_STT_ASSETS",
                              "ONDEVICE_STT_CATALOG"};
  const ProcessResult prepared = run({"prepare"}, options);
  expectOneRecord(prepared);
  EXPECT_EQ(prepared.out, "{\"language\":\"en_US\",\"prepared\":true}\n");
  const ProcessResult transcribed = run({"transcribe", "--file", speechFile()}, options);
  expectOneRecord(transcribed);
  EXPECT_EQ(transcribed.exitStatus, 0);
}

TEST(HostileInput, CatalogThatIsNoFile) {
  // The platform's catalog setting naming a FIFO without writer, an endless device or a
  // directory: a clear error naming it, at once, never a wait or a read without end.
  ScratchDirectory scratch;
  const fs::path fifo = scratch.path() / "catalog.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& catalog :
       {fifo.string(), std::string("/dev/zero"), scratch.path().string()}) {
    SCOPED_TRACE(catalog);
    ProcessOptions options;
    options.environment = {{"ONDEVICE_STT_CATALOG", catalog}};
    options.timeout = std::chrono::seconds(20);
    const ProcessResult r = runBinary({"prepare"}, options);
    expectOneRecord(r);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(field(r, "error").find(catalog), std::string::npos) << r.err;
  }
}

TEST(HostileInput, CatalogWithNumberOutOfRange) {
  ScratchDirectory scratch;
  const fs::path catalog = scratch.path() / "catalog.json";
  writeBytes(catalog, R"({"locales": {"en_US": {"size": 1e999}}})");
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()}};
  const ProcessResult r = run({"prepare"}, options);
  expectOneRecord(r);
  EXPECT_EQ(r.exitStatus, 1);
  // The platform's own description, naming the catalog.
  EXPECT_NE(field(r, "error").find(catalog.string()), std::string::npos) << r.err;
}

TEST(HostileInput, CatalogKeysInAnySpelling) {
  // A catalog key is stored as its POSIX identifier, which results report.
  ScratchDirectory scratch;
  const fs::path catalog = scratch.path() / "catalog.json";
  writeBytes(catalog,
             R"({"locales": {"en-us": {"system": "/usr/share/pocketsphinx/model/en-us"}}})");
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()},
                         {"ONDEVICE_STT_ASSETS", (scratch.path() / "store").string()}};
  for (const std::string language : {"en-us", "en_US", "en"}) {
    SCOPED_TRACE(language);
    const ProcessResult available = run({"is-available", "--language", language}, options);
    EXPECT_EQ(available.out, "{\"available\":true,\"language\":\"en_US\"}\n");
    const ProcessResult prepared = run({"prepare", "--language", language}, options);
    EXPECT_EQ(prepared.out, "{\"language\":\"en_US\",\"prepared\":true}\n");
  }
}

}  // namespace
}  // namespace ondevice
