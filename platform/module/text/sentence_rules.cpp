#include "platform/module/text/sentence_rules.h"

#include <string_view>
#include <vector>

#include "platform/module/text/word_sets.h"
#include "platform/module/text/written_word.h"

namespace ondevice::platform {
namespace {

// Subjects after an inverted auxiliary. Objects ("do it", "have it") and conditional
// inversions ("had he", "were it", "should you") are left out: those open statements too.
constexpr std::string_view kSingularSubjects[] = {
    "it",      "he",       "she",      "this",       "that",    "there",    "the",      "your",
    "my",      "his",      "her",      "our",        "their",   "a",        "an",       "anyone",
    "anybody", "anything", "everyone", "everything", "someone", "somebody", "something"};
constexpr std::string_view kPluralSubjects[] = {"you",   "we",  "they", "there", "these",
                                                "those", "the", "your", "my",    "his",
                                                "her",   "our", "their"};
constexpr std::string_view kPersonalSubjects[] = {"i", "you", "we", "they"};
constexpr std::string_view kAnySubject[] = {
    "i",     "you",    "we",      "they",     "he",       "she",     "it",       "this",
    "that",  "there",  "the",     "your",     "my",       "his",     "her",      "our",
    "their", "anyone", "anybody", "anything", "everyone", "someone", "somebody", "something"};

// Whether the auxiliary `verb` before `subject` opens a question.
bool invertedAuxiliary(std::string_view verb, std::string_view subject) {
  if (among(verb, {"is", "isn't", "was", "wasn't", "has", "hasn't", "does", "doesn't"})) {
    return among(subject, kSingularSubjects);
  }
  if (among(verb, {"are", "aren't", "weren't"})) return among(subject, kPluralSubjects);
  if (verb == "were") return among(subject, {"you", "we", "they", "there", "these", "those"});
  if (verb == "am") return subject == "i";
  if (among(verb, {"do", "don't", "have", "haven't", "may"})) {
    return among(subject, kPersonalSubjects) && !(verb == "may" && subject == "you");
  }
  if (among(verb, {"did", "didn't", "can", "can't", "could", "couldn't", "will", "won't", "would",
                   "wouldn't", "shall"})) {
    return among(subject, kAnySubject);
  }
  if (among(verb, {"should", "shouldn't"})) {
    return among(subject, {"i", "we", "they", "he", "she", "it"});
  }
  return false;
}

constexpr std::string_view kWhWords[] = {"what", "where", "when", "why", "how", "who", "which"};
constexpr std::string_view kAuxiliaries[] = {
    "is",     "isn't",     "are",      "aren't",  "was",     "wasn't", "were",     "weren't",
    "am",     "do",        "don't",    "does",    "doesn't", "did",    "didn't",   "can",
    "can't",  "could",     "couldn't", "will",    "won't",   "would",  "wouldn't", "shall",
    "should", "shouldn't", "have",     "haven't", "has",     "hasn't"};

bool whQuestion(std::string_view first, std::string_view second) {
  // "what's", "where's", "who's", "how'd", "what're", ...
  for (const std::string_view wh : kWhWords) {
    if (first.size() > wh.size() && first.starts_with(wh) && first[wh.size()] == '\'') return true;
  }
  if (!among(first, kWhWords)) return false;
  if (among(second, kAuxiliaries)) return true;
  if (first == "how") {
    return among(second, {"many", "long", "far", "old", "often", "about", "come"});
  }
  // "What if we tried?", "What kind of ship is that?", "Which one?", "Why not?"
  if (first == "what") return among(second, {"about", "if", "kind", "sort", "else"});
  if (first == "which") return among(second, {"one", "ones", "of"});
  return first == "why" && second == "not";
}

bool questionTag(std::string_view verb, std::string_view subject) {
  return among(verb, {"isn't", "aren't", "wasn't", "weren't", "don't", "doesn't", "didn't", "won't",
                      "wouldn't", "can't", "couldn't", "haven't", "hasn't", "shouldn't"}) &&
         among(subject, {"it", "you", "he", "she", "they", "we", "i", "there"});
}

// Subordinators: a clause that one opens leads into the main clause, wherever it begins among
// the clause's first words ("and therefore if I should go, I", "I think if you came, we").
constexpr std::string_view kSubordinators[] = {
    "if",     "when",  "whenever", "while", "since", "because", "though",  "although", "unless",
    "before", "after", "till",     "until", "once",  "whereas", "whether", "wherever"};

// Words that, first in a clause, make it a fronted phrase or an opening that leads into the main
// clause: prepositions ("in such cases, we"), adverbs ("then, you"), answers and interjections
// ("well, I"), wh-words and "that" ("that when there are twenty, I").
constexpr std::string_view kLeadingOpenings[] = {
    "as",     "where",  "that",    "in",      "on",        "at",      "with",    "for",
    "by",     "from",   "of",      "during",  "without",   "under",   "upon",    "to",
    "about",  "among",  "between", "through", "like",      "despite", "besides", "except",
    "beyond", "within", "against", "over",    "instead",   "now",     "then",    "so",
    "still",  "yet",    "perhaps", "indeed",  "certainly", "surely",  "oh",      "ah",
    "yes",    "no",     "well",    "nay",     "aye",       "why",     "what",    "how",
    "who",    "which",  "not"};

// Leading words that a main clause's opening words may go past: "and if I", "but when we".
constexpr std::string_view kJoiningWords[] = {"and", "but", "or", "nor", "so"};

// Verbs of a comment clause that closes a sentence: "I assure you", "I believe", "you know".
constexpr std::string_view kCommentVerbs[] = {
    "think",   "believe", "suppose", "assure",     "hope", "conclude", "fear",    "know",
    "say",     "imagine", "trust",   "understand", "see",  "mean",     "guess",   "expect",
    "presume", "promise", "declare", "fancy",      "own",  "confess",  "protest", "wonder"};

bool isSubjectPronoun(std::string_view word) {
  const std::string_view pronoun = word.substr(0, word.find('\''));
  return among(pronoun, {"i", "you", "he", "she", "we", "they"});
}

// Whether `rest`, after a pause, is a comment clause closing the sentence: a subject, a verb of
// saying or believing and at most an object or an address ("I assure you", "I dare say", "I
// believe, sir", "I'm sure").
bool commentCloses(std::span<const std::string> rest) {
  if (rest.size() < 2 || rest.size() > 4 || !isSubjectPronoun(loweredAscii(rest[0]))) {
    return false;
  }
  std::vector<std::string> words;
  for (const std::string& word : rest) words.push_back(loweredAscii(word));
  size_t verb = 1;
  if (words[0] == "i'm" || words[1] == "am") {  // "I'm sure", "I am afraid"
    verb = words[0] == "i'm" ? 1 : 2;
    return verb + 1 == words.size() && among(words[verb], {"sure", "afraid", "told"});
  }
  if (among(words[1], {"do", "dare", "must", "should", "can", "would"})) verb = 2;
  if (verb >= words.size() || !among(words[verb], kCommentVerbs)) return false;
  for (size_t k = verb + 1; k < words.size(); ++k) {
    if (!among(words[k], {"you", "sir", "madam", "ma'am", "so", "say", "it", "not"})) return false;
  }
  return true;
}

// Whether `words` open with "it", "this", "these" or "there" as a subject, which a verb after it
// shows ("it is", "there was", "this must"), or with one of their contractions ("it's",
// "let's"): "look at it | it keeps" is two sentences, "we went | there today" one.
bool opensWithSubject(std::span<const std::string> words) {
  const std::string first = loweredAscii(words[0]);
  if (among(first, {"it's", "there's", "that's", "let's"})) return true;
  if (words.size() < 2 || !among(first, {"it", "this", "these", "there"})) return false;
  return among(loweredAscii(words[1]), kAuxiliaries) ||
         among(loweredAscii(words[1]), {"may", "might", "must", "seems", "looks", "keeps"});
}

// Whether a clause cannot end with `word`.
bool clauseGoesOnAfter(std::string_view word) {
  return among(
      loweredAscii(word),
      {"a",       "an",       "the",      "and",      "but",      "or",       "nor",      "to",
       "of",      "in",       "at",       "by",       "for",      "with",     "from",     "into",
       "onto",    "than",     "that",     "my",       "your",     "our",      "their",    "its",
       "very",    "if",       "when",     "because",  "since",    "though",   "although", "unless",
       "whether", "think",    "thought",  "believe",  "guess",    "hope",     "say",      "said",
       "suppose", "wish",     "feel",     "felt",     "mean",     "bet",      "told",     "tell",
       "sure",    "afraid",   "glad",     "realize",  "realise",  "expect",   "imagine",  "fear",
       "knew",    "thinking", "hoping",   "saying",   "believed", "hoped",    "wished",   "meant",
       "guessed", "supposed", "realized", "realised", "expected", "imagined", "feared"});
}

}  // namespace

bool clauseFollows(std::string_view before, std::string_view word,
                   std::span<const std::string> rest) {
  if (rest.empty() || !(isSubjectPronoun(loweredAscii(rest[0])) || opensWithSubject(rest))) {
    return false;
  }
  if (clauseGoesOnAfter(word)) return true;
  // "the thing is | we", but "as it is | we" and "as I was | I" end a clause.
  return among(loweredAscii(word), {"is", "was"}) && !before.empty() &&
         !among(loweredAscii(before), kAnySubject);
}

bool mainClausesMeet(std::span<const std::string> clauseOpening, size_t clauseWords,
                     std::span<const std::string> rest) {
  if (rest.empty() || commentCloses(rest)) return false;
  if (!isSubjectPronoun(loweredAscii(rest[0])) && !opensWithSubject(rest)) {
    return false;
  }
  size_t first = 0;
  while (first < clauseOpening.size() && among(loweredAscii(clauseOpening[first]), kJoiningWords)) {
    ++first;
  }
  if (clauseWords < first + 3 || first + 1 >= clauseOpening.size()) return false;
  for (const std::string& word : clauseOpening) {
    if (among(loweredAscii(word), kSubordinators)) return false;
  }
  const std::string opening = loweredAscii(clauseOpening[first]);
  // A wh-word before an auxiliary asks a question, a main clause ("how can you be so
  // tiresome"); before a subject it opens a clause that leads ("how he did it, I").
  const bool asks = whQuestion(opening, loweredAscii(clauseOpening[first + 1]));
  if (among(opening, kLeadingOpenings) && !asks) return false;
  // "had he married ..., he": a conditional inversion leads like "if".
  if (among(opening, {"had", "were", "should"})) return false;
  return true;
}

bool endsSentenceAtEnd(const SpokenWord& last, UtteranceEnd end, const SentenceSettings& settings) {
  if (isTitle(last.text)) return false;
  if (end == UtteranceEnd::endOfStream) return true;
  if (!last.odds) return end != UtteranceEnd::cut;  // no language model: the pause alone
  switch (end) {
    case UtteranceEnd::pause:
      return last.odds->end >= settings.endAfterPause;
    case UtteranceEnd::pauseWhenLong:
      return last.odds->end >= settings.endAfterShortPause;
    case UtteranceEnd::cut:
      return last.odds->end >= settings.endAtCut;
    case UtteranceEnd::endOfStream:
      break;
  }
  return true;
}

bool endsSentenceAfter(const SpokenWord& word, const SentenceSettings& settings) {
  if (isTitle(word.text) || word.pauseAfterMs < settings.innerPauseMs || !word.odds ||
      !word.odds->nextGoesOn || !word.odds->nextOpens) {
    return false;
  }
  const double breakOverGoingOn = word.odds->end + *word.odds->nextOpens - *word.odds->nextGoesOn;
  const double margin = settings.innerMargin - settings.pauseWeight * word.pauseAfterMs / 1000.0;
  return breakOverGoingOn > margin;
}

bool isQuestion(std::span<const std::string> opening, std::span<const std::string> closing) {
  if (closing.size() == 2 && questionTag(loweredAscii(closing[0]), loweredAscii(closing[1]))) {
    return true;
  }
  size_t first = 0;
  // A conjunction or an interjection before the question: "and is it", "oh do you".
  while (first < opening.size() &&
         among(loweredAscii(opening[first]), {"and", "but", "oh", "well"})) {
    ++first;
  }
  if (first + 1 >= opening.size()) {
    return first < opening.size() && whQuestion(loweredAscii(opening[first]), "");
  }
  const std::string verb = loweredAscii(opening[first]);
  const std::string next = loweredAscii(opening[first + 1]);
  return invertedAuxiliary(verb, next) || whQuestion(verb, next);
}

bool clauseAsks(std::span<const std::string> clauseOpening) {
  if (clauseOpening.empty() ||
      among(loweredAscii(clauseOpening[0]), {"who", "which", "whom", "whose", "when", "where"})) {
    return false;
  }
  return isQuestion(clauseOpening, {});
}

}  // namespace ondevice::platform
