#include "engine/platform/module/text/readable_text.h"

#include "engine/platform/module/text/written_word.h"

namespace ondevice::platform {
namespace {

// Enough of a sentence's opening to see a question past a conjunction and an interjection.
constexpr size_t kOpeningWords = 4;

// Whether `written` is `spoken` with nothing changed but the case of letters and a title's dot.
bool onlyFormChanged(const std::string& written, const std::string& spoken) {
  const std::string lower = loweredAscii(written);
  if (lower == loweredAscii(spoken)) return true;
  return isTitle(spoken) && lower == loweredAscii(spoken) + ".";
}

}  // namespace

std::string ReadableText::written(const SpokenWord& word) {
  std::string form = writtenWord(word.text);
  if (!sentenceOpen_ || nameNext_) form = startOfSentence(std::move(form));
  if (!onlyFormChanged(form, word.text)) form = word.text;  // never another word
  nameNext_ = isTitle(word.text);
  if (!sentenceOpen_) {
    opening_.clear();
    closing_.clear();
    sentenceOpen_ = true;
  }
  if (opening_.size() < kOpeningWords) opening_.push_back(word.text);
  if (closing_.size() == 2) closing_.erase(closing_.begin());
  closing_.push_back(word.text);
  return form;
}

void ReadableText::endSentence(std::string& text) {
  if (isQuestion(opening_, closing_)) {
    text += '?';
  } else if (text.back() != '.') {  // "u.s." is not followed by a second full stop
    text += '.';
  }
  sentenceOpen_ = false;
}

std::string ReadableText::write(const SpokenSegment& segment) {
  std::string text;
  for (size_t i = 0; i < segment.words.size(); ++i) {
    const SpokenWord& word = segment.words[i];
    if (!text.empty()) text += ' ';
    text += written(word);
    const bool last = i + 1 == segment.words.size();
    if (last ? endsSentenceAtEnd(word, segment.end, settings_)
             : endsSentenceAfter(word, settings_)) {
      endSentence(text);
    }
  }
  return text;
}

}  // namespace ondevice::platform
