#pragma once
// The text stage, after ordered delivery: for an English locale (language "en"), each result's
// words are written as readable English (text/readable_text.h), in time order, so that a
// sentence may run on from one result into the next; for any other locale the text passes
// unchanged. Called by one thread at a time (the decoder pool's delivery holds its lock).
//
//   TextStage stage(Locale("en_US"));
//   results.deliver(stage.write(std::move(recognised)));   // "He was not an ill disposed ..."

#include <optional>
#include <string_view>

#include "platform/api/locale.h"
#include "platform/module/decoding/decoder_pool.h"
#include "platform/module/text/readable_text.h"

namespace ondevice::platform {

// Whether the locale's text is written as readable English: its language is "en".
bool writesReadableEnglish(std::string_view localeIdentifier);

class TextStage {
 public:
  explicit TextStage(const Locale& locale);

  TranscriptionResult write(RecognisedUtterance recognised);

 private:
  std::optional<ReadableText> readable_;  // for English only
};

}  // namespace ondevice::platform
