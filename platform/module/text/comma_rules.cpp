#include "platform/module/text/comma_rules.h"

#include "platform/module/text/word_sets.h"
#include "platform/module/text/written_word.h"

namespace ondevice::platform {
namespace {

// Words that open a clause or a phrase set off by commas, where a pause comes before them:
// conjunctions, subordinators, relative pronouns, subjects, the openings of an address and
// adverbs that comment on the sentence. Words that as often go on a phrase ("for", "so", "as",
// "or", "until", "that", "there", "what", "the") are left out: a speaker pauses before them
// inside a phrase too ("to do | for them").
bool opensClause(std::string_view word) {
  return among(word, {"and",     "but",     "nor",     "if",       "when",     "whenever", "while",
                      "since",   "because", "though",  "although", "unless",   "whereas",  "which",
                      "who",     "whom",    "whose",   "i",        "i'm",      "i'll",     "i'd",
                      "i've",    "you",     "you're",  "you'll",   "you'd",    "you've",   "he",
                      "he's",    "she",     "she's",   "we",       "we're",    "we'll",    "they",
                      "they're", "my",      "sir",     "madam",    "ma'am",    "mr",       "mrs",
                      "indeed",  "however", "perhaps", "surely",   "therefore"});
}

// Subjects after which "no", "well" and "oh" are interjections: "no I", "well you", "oh it".
bool isSubject(std::string_view word) {
  if (among(word, {"i", "you", "he", "she", "we", "they", "it", "that", "this", "there"})) {
    return true;
  }
  const size_t apostrophe = word.find('\'');
  return apostrophe != std::string_view::npos && isSubject(word.substr(0, apostrophe));
}

}  // namespace

bool endsAsideOrAddress(std::string_view before, std::string_view word) {
  const std::string lower = loweredAscii(word);
  if (among(lower, {"sir", "madam", "ma'am", "indeed", "however", "therefore"})) return true;
  if (loweredAscii(before) == "my") return among(lower, {"dear", "love", "friend", "lord", "lady"});
  return isName(word) || (isTitle(before) && !word.empty());
}

bool commaAtPause(std::string_view before, const SpokenWord& word, std::string_view next,
                  bool setOff, const CommaSettings& settings) {
  if (word.pauseAfterMs < settings.pauseMs || isTitle(word.text)) return false;
  // A name is an address only once a comma sets it off: "Remember, Eliza, that", not "Sir
  // William | came".
  const bool named = isName(word.text) || isTitle(before);
  if (settings.afterAddress && endsAsideOrAddress(before, word.text) && (setOff || !named)) {
    return true;
  }
  const std::string lower = loweredAscii(next);
  if (opensClause(lower)) return true;
  return settings.beforeNames && isName(next);
}

bool commaBeforeConjunction(std::string_view word, std::string_view conjunction,
                            std::string_view subject) {
  if (!among(loweredAscii(conjunction), {"and", "but"}) || isTitle(word) || isName(word) ||
      isSubject(loweredAscii(word)) ||
      among(loweredAscii(word), {"me", "him", "her", "us", "them"})) {
    return false;
  }
  const std::string lower = loweredAscii(subject);
  const std::string_view pronoun = std::string_view(lower).substr(0, lower.find('\''));
  return among(pronoun, {"i", "he", "she", "we", "they"});
}

bool commaAfterOpening(std::span<const std::string> opening) {
  if (opening.size() < 2) return false;
  const std::string first = loweredAscii(opening[0]);
  const std::string second = loweredAscii(opening[1]);
  if (among(first, {"yes", "indeed", "ah"})) return true;
  // "no one", "well done", "oh dear": the word goes on a phrase unless a clause follows.
  if (among(first, {"no", "well", "oh"})) {
    return isSubject(second) || among(second, {"sir", "madam", "indeed", "but", "my"});
  }
  return false;
}

bool vocativeCloses(std::span<const std::string> rest) {
  if (rest.size() == 1) return among(loweredAscii(rest[0]), {"sir", "madam", "ma'am"});
  if (rest.size() == 2 && loweredAscii(rest[0]) == "my") {
    return among(loweredAscii(rest[1]), {"dear", "love", "friend", "lord", "lady", "child"});
  }
  return false;
}

}  // namespace ondevice::platform
