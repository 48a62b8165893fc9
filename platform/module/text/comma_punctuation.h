#pragma once
// Commas inside a sentence, judged only where a writing convention is certain from the words
// (by their classes, english_words.txt), or where the speaker's pause marks a boundary that the
// next word shows to be one: "..., and", "My dear, you", "..., Eliza, that", "Yes, I did.",
// "..., my dear."

#include <span>

#include "platform/module/text/word.h"

namespace ondevice::platform {

// The thresholds of the comma rules.
struct CommaSettings {
  // A pause at least this long (ms) before a word that opens a clause or sets a phrase off
  // writes a comma. Speakers pause inside phrases too ("had then | leisure"): the next word
  // decides whether the pause is a boundary.
  int pauseMs = 40;
  // Whether a name (a word the truecasing table knows only with capitals) after such a pause
  // counts as opening a phrase: an address ("..., Jane") or a new clause's subject.
  bool beforeNames = true;
  // Whether an address ("sir", "madam", "my dear", a name) before such a pause ends a phrase
  // whatever word follows: "Remember, Eliza, that ...".
  bool afterAddress = true;
};

// Whether a pause before `next` marks a boundary: it opens a clause or a phrase set off by
// commas (a conjunction, a subordinator, a relative pronoun, a subject pronoun, "my", an
// address, a title, a commenting adverb, with CommaSettings::beforeNames a name). Words that as
// often go on a phrase ("for", "so", "or", "until", "that", ...) do not: "to do | for them".
bool opensPhrase(const Word& next, const CommaSettings& settings = {});

// Whether `word`, after `before` (if any), ends a phrase set off by commas: an address ("sir",
// "my dear", a name, the name after a title) or an adverb that comments on the sentence
// ("indeed").
bool endsAsideOrAddress(const Word* before, const Word& word);

// Whether a comma goes before the conjunction `conjunction` after `word`: "and" or "but" joining
// two clauses, which the subject pronoun after it shows ("here, and she told", "Long, but I
// wish"). After a pronoun or a name the pair may be a subject of two ("he and I went").
bool commaBeforeConjunction(const Word& word, const Word& conjunction, const Word& subject);

// Whether a sentence that opens with `first` and `second` opens with an interjection or answer
// set off by a comma: "yes", "ah", "indeed", and "no", "well" and "oh" before a subject or an
// address. "no one", "well done", "oh dear" are no such openings.
bool commaAfterOpening(const Word& first, const Word& second);

// Whether `rest`, the last words of a sentence, address the listener ("sir", "madam", "my
// dear", "my love"): a comma goes before them.
bool vocativeCloses(std::span<const Word> rest);

}  // namespace ondevice::platform
