// Test programs that use the speech module's subsystems in-process set their libraries up the
// way the module's entry does, before any test runs.

#include <gtest/gtest.h>

#include "platform/module/speech_libraries.h"

namespace {

class SpeechLibraries final : public ::testing::Environment {
 public:
  void SetUp() override {
    ondevice::platform::setUpSpeechLibraries();
    ondevice::platform::setUpDownloadLibraries();
  }
};

[[maybe_unused]] ::testing::Environment* const kSpeechLibraries =
    ::testing::AddGlobalTestEnvironment(new SpeechLibraries);

}  // namespace
