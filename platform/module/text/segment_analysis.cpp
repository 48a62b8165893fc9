#include "platform/module/text/segment_analysis.h"

#include "platform/module/text/truecasing.h"

namespace ondevice::platform {

using enum WordClass;

Word classified(std::string_view spoken) {
  Word word;
  word.text = spoken;
  word.classes = wordClasses(spoken);
  const size_t apostrophe = spoken.find('\'');
  word.stemClasses = apostrophe == std::string_view::npos
                         ? word.classes
                         : wordClasses(spoken.substr(0, apostrophe));
  Truecased truecase = truecased(spoken, word.classes);
  word.written = std::move(truecase.written);
  word.name = truecase.name;
  return word;
}

SegmentAnalysis analyseSegment(const SpokenSegment& segment, const SentenceSettings& sentences,
                               const CommaSettings& commas) {
  const auto& spoken = segment.words;
  const size_t count = spoken.size();
  SegmentAnalysis analysis;
  analysis.words.reserve(count);
  for (const SpokenWord& word : spoken) analysis.words.push_back(classified(word.text));
  analysis.at.resize(count);
  const auto& words = analysis.words;
  auto& at = analysis.at;

  for (size_t i = 0; i < count; ++i) {
    at[i].sentenceEnds = !words[i].is(title) &&
                         (i + 1 == count ? endsSentenceAtEnd(spoken[i], segment.end, sentences)
                                         : endsSentenceAfter(spoken[i], sentences));
  }
  // From the end: a rest runs to the next sentence end or to the segment's end.
  for (size_t i = count; i-- > 0;) {
    at[i].restEnd = i + 1 == count ? count : at[i + 1].sentenceEnds ? i + 2 : at[i + 1].restEnd;
  }

  for (size_t i = 0; i + 1 < count; ++i) {
    const Word* before = i > 0 ? &words[i - 1] : nullptr;
    const Word& word = words[i];
    const Word& next = words[i + 1];
    const std::span<const Word> rest = analysis.rest(i);
    WordJudgement& judgement = at[i];
    judgement.titleBeforeName = isTitleBeforeName(before, word, next);
    judgement.leadsIntoClause = clauseFollows(before, word, rest);
    judgement.pauseAfter = spoken[i].pauseAfterMs >= commas.pauseMs && !word.is(title);
    judgement.endsAsideOrAddress = endsAsideOrAddress(before, word);
    judgement.commaAfterAside = commas.afterAddress && judgement.endsAsideOrAddress;
    judgement.named = word.name || (before != nullptr && before->is(title));
    judgement.nextOpensPhrase = opensPhrase(next, commas);
    judgement.commaBeforeConjunction =
        i + 2 < count && commaBeforeConjunction(word, next, words[i + 2]);
    judgement.commaAfterOpening = commaAfterOpening(word, next);
    judgement.restOpensMainClause = opensMainClause(rest);
    judgement.restClosesWithAddress =
        at[judgement.restEnd - 1].sentenceEnds && vocativeCloses(rest);
  }
  return analysis;
}

}  // namespace ondevice::platform
