#include "platform/module/analysis/text_stage.h"

#include <utility>

namespace ondevice::platform {

bool writesReadableEnglish(std::string_view localeIdentifier) {
  const std::string_view language =
      localeIdentifier.substr(0, localeIdentifier.find_first_of("_-"));
  return language.size() == 2 && (language[0] == 'e' || language[0] == 'E') &&
         (language[1] == 'n' || language[1] == 'N');
}

TextStage::TextStage(const Locale& locale) {
  if (writesReadableEnglish(locale.identifier())) readable_.emplace();
}

TranscriptionResult TextStage::write(RecognisedUtterance recognised) {
  if (readable_) recognised.result.text = readable_->write(recognised.spoken);
  return std::move(recognised.result);
}

}  // namespace ondevice::platform
