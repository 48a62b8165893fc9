#pragma once
// Where a comma goes inside a sentence, judged only where a writing convention is certain from
// the words, or where the speaker's pause marks a boundary that the next word shows to be one:
//
//   commaAtPause("had", {"then", 80}, "and");      // true: "..., and"
//   commaAtPause("had", {"then", 80}, "leisure");  // false: a pause inside a phrase
//   commaAtPause("my", {"dear", 80}, "you");       // true: "My dear, you ..."
//   commaAtPause("", {"eliza", 80}, "that", true); // true: "..., Eliza, that"
//   commaBeforeConjunction("here", "and", "she");  // true: "here, and she"
//   commaAfterOpening({"yes", "i", "did"});     // true: "Yes, I did."
//   vocativeCloses({"my", "dear"});             // true: "..., my dear."

#include <span>
#include <string>
#include <string_view>

#include "platform/module/text/spoken_segment.h"

namespace ondevice::platform {

// The thresholds of the comma rules.
struct CommaSettings {
  // A pause at least this long (ms) before a word that opens a clause or sets a phrase off
  // writes a comma. Speakers pause inside phrases too ("had then | leisure"): the next word
  // decides whether the pause is a boundary.
  int pauseMs = 40;
  // Whether a name (a word the cased list knows only with capitals) after such a pause counts
  // as opening a phrase: an address ("..., Jane") or a new clause's subject.
  bool beforeNames = true;
  // Whether an address ("sir", "madam", "my dear", a name) before such a pause ends a phrase
  // whatever word follows: "Remember, Eliza, that ...".
  bool afterAddress = true;
};

// Whether a comma follows `word`, which `before` precedes (empty at the start of an utterance)
// and `next` follows in the same utterance; `setOff` says whether a comma came right before the
// phrase that `word` ends (a name is an address only then).
bool commaAtPause(std::string_view before, const SpokenWord& word, std::string_view next,
                  bool setOff = false, const CommaSettings& settings = {});

// Whether `word`, after `before`, ends a phrase set off by commas: an address ("sir", "my dear",
// a name, the name after a title) or an adverb that comments on the sentence ("indeed").
bool endsAsideOrAddress(std::string_view before, std::string_view word);

// Whether a comma goes before the conjunction `conjunction` after `word`: "and" or "but" joining
// two clauses, which the subject pronoun after it shows ("here, and she told", "Long, but I
// wish"). After a pronoun or a name the pair may be a subject of two ("he and I went").
bool commaBeforeConjunction(std::string_view word, std::string_view conjunction,
                            std::string_view subject);

// Whether the sentence, whose first words are `opening` (at least two where it has them), opens
// with an interjection or answer set off by a comma: "yes", "no", "well", "oh", "indeed" and more
// words after it. "no one", "well done", "oh dear" are no such openings.
bool commaAfterOpening(std::span<const std::string> opening);

// Whether `rest`, the last words of a sentence, address the listener ("sir", "madam", "my
// dear", "my love"): a comma goes before them.
bool vocativeCloses(std::span<const std::string> rest);

}  // namespace ondevice::platform
