// The written form of recognised English without a recogniser: segments as the decoder hands
// them over (words, pauses, the language model's odds of a sentence end, why the utterance
// ended) and the texts written for them, in order.

#include "platform/module/text/readable_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/module/text/truecasing.h"
#include "platform/module/text/truecasing_table.h"
#include "platform/module/text/word_classes.h"
#include "tests/support/case_name.h"

namespace ondevice::platform {
namespace {

using ::testing::ElementsAreArray;
using ::testing::Ge;
using ::testing::Optional;
using ::testing::StrEq;

struct WordCase {
  std::string spoken;
  std::string written;
};

class WrittenWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(WrittenWord, TakesItsCaseFromTheListOrACertainRule) {
  EXPECT_EQ(writtenWord(GetParam().spoken), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    , WrittenWord,
    ::testing::Values(
        WordCase{"i", "I"}, WordCase{"i'm", "I'm"}, WordCase{"i'll", "I'll"},
        WordCase{"monday", "Monday"}, WordCase{"english", "English"}, WordCase{"london", "London"},
        WordCase{"fbi", "FBI"}, WordCase{"mcdonald", "McDonald"}, WordCase{"london's", "London's"},
        // The list knows these in both forms: no rule makes them names.
        WordCase{"may", "may"}, WordCase{"march", "march"}, WordCase{"will", "will"},
        WordCase{"bill", "bill"}, WordCase{"china", "china"}, WordCase{"turkey", "turkey"},
        WordCase{"house", "house"}, WordCase{"it's", "it's"},
        WordCase{"african-american", "African-American"}, WordCase{"mr", "Mr."},
        WordCase{"mrs", "Mrs."}, WordCase{"dr", "Dr."}, WordCase{"st", "St."},
        // Letters already capitalised stay so; unknown words stay as spoken.
        WordCase{"NASA", "NASA"}, WordCase{"zzyzx", "zzyzx"}, WordCase{"u.s.", "u.s."}),
    testing::numberedBy<&WordCase::spoken>);

TEST(TruecasingTable, HoldsTheListsCapitalisedWords) {
  EXPECT_THAT(capitalisedWordCount(), Ge(10000u));
  // The first and last words of the sorted table are found like any other.
  EXPECT_THAT(capitalisedForm("a's"), Optional(StrEq("A's")));
  EXPECT_THAT(capitalisedForm("zyuganov's"), Optional(StrEq("Zyuganov's")));
  EXPECT_EQ(capitalisedForm(""), std::nullopt);
  EXPECT_EQ(capitalisedForm("mondayx"), std::nullopt);
  EXPECT_EQ(capitalisedForm("monda"), std::nullopt);
}

TEST(WordClasses, AreCompiledFromTheDataFile) {
  EXPECT_THAT(classifiedWordCount(), Ge(200u));
  const WordClasses were = wordClasses("were");
  EXPECT_TRUE(were.has(WordClass::auxiliaryPlural));
  EXPECT_TRUE(were.has(WordClass::conditionalInversion));
  EXPECT_FALSE(were.has(WordClass::auxiliaryThirdPersonSingular));
  EXPECT_TRUE(were.any(kAuxiliary));
  EXPECT_EQ(wordClasses("WERE"), were);  // case folded
  EXPECT_TRUE(wordClasses("ma'am").has(WordClass::address));
  EXPECT_TRUE(wordClasses("child").has(WordClass::addressAfterMy));
  // The first and last words of the sorted table are found like any other.
  EXPECT_TRUE(wordClasses("a").has(WordClass::article));
  EXPECT_TRUE(wordClasses("yours").has(WordClass::possessivePronoun));
  EXPECT_TRUE(wordClasses("house").none());
  EXPECT_TRUE(wordClasses("").none());
  EXPECT_TRUE(wordClasses("wer").none());
  EXPECT_TRUE(wordClasses("weree").none());
}

// "he was not|-2.4" is a word with the odds of a sentence end after it; "|300|-0.5|-1.4|-3"
// adds a pause of 300 ms and the odds of the next word opening a sentence and going on.
SpokenSegment segment(const std::string& words, UtteranceEnd end = UtteranceEnd::pause) {
  SpokenSegment spoken{{}, end};
  std::istringstream in(words);
  for (std::string token; in >> token;) {
    SpokenWord word;
    std::vector<std::string> fields;
    std::istringstream parts(token);
    for (std::string field; std::getline(parts, field, '|');) fields.push_back(field);
    word.text = fields[0];
    if (fields.size() == 2) word.odds = SentenceOdds{std::stod(fields[1]), {}, {}};
    if (fields.size() == 5) {
      word.pauseAfterMs = std::stoi(fields[1]);
      word.odds = SentenceOdds{std::stod(fields[2]), std::stod(fields[4]), std::stod(fields[3])};
    }
    spoken.words.push_back(word);
  }
  return spoken;
}

struct TextCase {
  std::string name;
  std::vector<SpokenSegment> segments;
  std::vector<std::string> written;
};

class Readable : public ::testing::TestWithParam<TextCase> {};

TEST_P(Readable, WritesEachSegmentAfterTheOnesBefore) {
  ReadableText text;
  std::vector<std::string> written;
  for (const auto& spoken : GetParam().segments) written.push_back(text.write(spoken));
  EXPECT_THAT(written, ElementsAreArray(GetParam().written));
}

INSTANTIATE_TEST_SUITE_P(
    , Readable,
    ::testing::Values(
        TextCase{"ASentenceAcrossTwoSegments",
                 {segment("he was not|-2.4"), segment("an ill disposed young man|-0.7")},
                 {"He was not", "an ill disposed young man."}},
        TextCase{"ThePronounInsideASentence",
                 {segment("yes i'm sure i'll come|-0.9")},
                 {"Yes, I'm sure I'll come."}},
        TextCase{"ATitleAtTheEndOfASegment",
                 {segment("i spoke to mr|-0.7"), segment("smith on monday|-0.9")},
                 {"I spoke to Mr.", "Smith on Monday."}},
        TextCase{
            "TheNameAfterATitleInsideASegment", {segment("ask dr brown|-1")}, {"Ask Dr. Brown."}},
        TextCase{"AWordTheListKnowsInBothForms",
                 {segment("we met in may|-1.0"), segment("may i come in|-1.0")},
                 {"We met in may.", "May I come in?"}},
        TextCase{
            "ASegmentOfOneWord",
            {segment("yes|-0.5"), segment("the|-2.3"), segment("end", UtteranceEnd::endOfStream)},
            {"Yes.", "The", "end."}},
        TextCase{
            "TextAlreadyCapitalised", {segment("NASA launched It|-0.9")}, {"NASA launched It."}},
        TextCase{"ASentenceEndInsideASegmentAtALongPause",
                 {segment("that is all|600|-0.5|-1.4|-3.0 thank you|-0.4")},
                 {"That is all. Thank you."}},
        TextCase{"NoSentenceEndAtAShortPause",
                 {segment("that is all|100|-0.5|-1.4|-3.0 thank you|-0.4")},
                 {"That is all thank you."}},
        TextCase{"NoSentenceEndWhereTheNextWordGoesOn",
                 {segment("he went to|600|-1.9|-2.5|-1.0 town|-0.8")},
                 {"He went to town."}},
        TextCase{
            "TheEndOfTheAudioEndsASentence",
            {segment("how much there might be in his power to do for", UtteranceEnd::endOfStream)},
            {"How much there might be in his power to do for."}},
        TextCase{"ACutWithoutAPauseRarelyEndsOne",
                 {segment("and then we went|-1.0", UtteranceEnd::cut), segment("home|-0.8")},
                 {"And then we went", "home."}},
        TextCase{"ALongUtteranceEndsOneAtAShorterPause",
                 {segment("and then we went home|-1.0", UtteranceEnd::pauseWhenLong),
                  segment("it was late|-0.8")},
                 {"And then we went home.", "It was late."}},
        TextCase{"QuestionsTheWordsMakeCertain",
                 {segment("do you know where it is|-0.9"), segment("where are you|-0.9"),
                  segment("and what's that|-0.9"), segment("it's nice isn't it|-0.9"),
                  segment("how many are there|-0.9")},
                 {"Do you know where it is?", "Where are you?", "And what's that?",
                  "It's nice isn't it?", "How many are there?"}},
        TextCase{"QuestionsThatAWhWordAndItsNextWordMakeCertain",
                 {segment("what if we tried|-0.9"), segment("what kind of ship is that|-0.9"),
                  segment("which one|-0.9"), segment("why not|-0.9")},
                 {"What if we tried?", "What kind of ship is that?", "Which one?", "Why not?"}},
        TextCase{"StatementsThatOpenLikeQuestions",
                 {segment("had he married a more amiable woman|-0.9"), segment("do it now|-0.9"),
                  segment("have a nice day|-0.9"), segment("when i was young|-0.9"),
                  segment("should you need help call|-0.9")},
                 {"Had he married a more amiable woman.", "Do it now.", "Have a nice day.",
                  "When I was young.", "Should you need help call."}},
        TextCase{"AQuestionAcrossTwoSegments",
                 {segment("is it|-2.5"), segment("raining|-0.9")},
                 {"Is it", "raining?"}},
        TextCase{"ADottedWordGetsNoSecondFullStop",
                 {segment("he lives in the u.s.", UtteranceEnd::endOfStream)},
                 {"He lives in the u.s."}},
        TextCase{"ASegmentWithoutWords", {segment(""), segment("fine|-1")}, {"", "Fine."}},
        // Commas: a pause before a word that opens a clause or an address, and the writing
        // conventions that the words alone make certain.
        TextCase{"ACommaAtAPauseBeforeAClause",
                 {segment("he was here|60|-1|-2|-2 and she came|-0.9")},
                 {"He was here, and she came."}},
        TextCase{
            "NoCommaAtAPauseInsideAPhrase",
            {segment("he had then|80|-1|-2|-2 leisure to think|-0.9"),
             segment("in his power to do|80|-1|-2|-2 for them|-0.9"),
             segment("i was|80|-1|-2|-2 so happy|-0.9")},
            {"He had then leisure to think.", "In his power to do for them.", "I was so happy."}},
        TextCase{"NoCommaAtAPauseShorterThanTheSetting",
                 {segment("he was here|30|-1|-2|-2 if she came|-0.9")},
                 {"He was here if she came."}},
        TextCase{"NoCommaBeforeAClauseWithoutAPause",
                 {segment("bread and butter|-0.9")},
                 {"Bread and butter."}},
        TextCase{"ACommaBeforeAConjunctionJoiningClauses",
                 {segment("she has been here and she told me|-0.9"),
                  segment("i called but he'd gone|-0.9"), segment("you and i went|-0.9"),
                  segment("ask him and they come|-0.9")},
                 {"She has been here, and she told me.", "I called, but he'd gone.",
                  "You and I went.", "Ask him and they come."}},
        TextCase{"ACommaBeforeAndAfterAnAddress",
                 {segment("remember|60|-1|-2|-2 eliza|60|-1|-2|-2 that he came|-0.9")},
                 {"Remember, Eliza, that he came."}},
        TextCase{"TheAddressAfterATitleEndsAtTheName",
                 {segment("did you think|60|-1|-2|-2 mr|60|-1|-2|-2 darcy|60|-1|-2|-2 that i "
                          "came|-0.9")},
                 {"Did you think, Mr. Darcy, that I came?"}},
        TextCase{
            "NoCommaAfterThePronoun", {segment("i|80|-1|-2|-2 think so|-0.9")}, {"I think so."}},
        TextCase{"AnOpeningAnswerOrInterjection",
                 {segment("yes i did|-0.9"), segment("well you know|-0.9"),
                  segment("oh it is you|-0.9"), segment("indeed it was|-0.9")},
                 {"Yes, I did.", "Well, you know.", "Oh, it is you.", "Indeed, it was."}},
        TextCase{"OpeningWordsThatGoOnAPhrase",
                 {segment("no one came|-0.9"), segment("well done|-0.9"), segment("oh dear|-0.9"),
                  segment("yes|-0.5")},
                 {"No one came.", "Well done.", "Oh dear.", "Yes."}},
        TextCase{"AnOpeningWordAtTheEndOfASegmentWaitsForNoLaterOne",
                 {segment("yes|-2.5"), segment("i did|-0.9")},
                 {"Yes", "I did."}},
        TextCase{"AnAddressClosingTheSentence",
                 {segment("you flatter me my dear|-0.6"), segment("thank you sir|-0.5"),
                  segment("i know madam|-0.5")},
                 {"You flatter me, my dear.", "Thank you, sir.", "I know, madam."}},
        TextCase{"AnAddressThatDoesNotCloseTheSentence",
                 {segment("my dear mr|-0.7"), segment("bennet came|-0.8"),
                  segment("the sir was|-2.5"), segment("here|-0.7")},
                 {"My dear Mr.", "Bennet came.", "The sir was", "here."}},
        TextCase{"AQuestionAfterAComma",
                 {segment("my dear|60|-1|-2|-2 have you heard|-0.9"),
                  segment("sir|60|-1|-2|-2 do you know|-0.9")},
                 {"My dear, have you heard?", "Sir, do you know?"}},
        TextCase{"ARelativeClauseAfterACommaAsksNothing",
                 {segment("i met charlotte|60|-1|-2|-2 who was tired|-0.9"),
                  segment("it is the house|60|-1|-2|-2 which is mine|-0.9")},
                 {"I met Charlotte, who was tired.", "It is the house, which is mine."}},
        TextCase{"ACommentingAdverbSetOff",
                 {segment("he must|60|-1|-2|-2 indeed|60|-1|-2|-2 come|-0.9")},
                 {"He must, indeed, come."}},
        TextCase{"ASentenceEndTakesThePlaceOfAComma",
                 {segment("that is all|600|-0.5|-1.4|-3.0 and you know it|-0.4")},
                 {"That is all. And you know it."}},
        // A pause before a subject: two main clauses are two sentences; a clause or phrase that
        // leads into the main clause, a short opening or a closing comment takes a comma.
        TextCase{"TwoMainClausesAtAPauseAreTwoSentences",
                 {segment("you take delight in vexing me|60|-1|-2|-2 you have no compassion|-0.9"),
                  segment("thank you for calling|60|-1|-2|-2 we are closed|-0.9")},
                 {"You take delight in vexing me. You have no compassion.",
                  "Thank you for calling. We are closed."}},
        TextCase{"AClauseThatLeadsIntoTheMainOneTakesAComma",
                 {segment("if i were as rich as him|60|-1|-2|-2 i would stay|-0.9"),
                  segment("in such cases as these|60|-1|-2|-2 we stay|-0.9"),
                  segment("had he married a kind woman|60|-1|-2|-2 he would stay|-0.9"),
                  segment("and therefore if he goes away|60|-1|-2|-2 i stay|-0.9")},
                 {"If I were as rich as him, I would stay.", "In such cases as these, we stay.",
                  "Had he married a kind woman, he would stay.",
                  "And therefore if he goes away, I stay."}},
        TextCase{"AQuestionIsAMainClauseAWhClauseLeads",
                 {segment("how can you be so tiresome|60|-1|-2|-2 you must go home|-0.9"),
                  segment("how he did it so fast|60|-1|-2|-2 i don't know|-0.9")},
                 {"How can you be so tiresome? You must go home.",
                  "How he did it so fast, I don't know."}},
        TextCase{"AShortOpeningTakesAComma",
                 {segment("i'm sorry|60|-1|-2|-2 i didn't understand|-0.9")},
                 {"I'm sorry, I didn't understand."}},
        TextCase{"ACommentClauseClosesTheSentenceAfterAComma",
                 {segment("your guess is totally wrong|60|-1|-2|-2 i assure you|-0.9"),
                  segment("she will come in time|60|-1|-2|-2 i'm sure|-0.9"),
                  segment("it is late for them|60|-1|-2|-2 i am going home|-0.9")},
                 {"Your guess is totally wrong, I assure you.", "She will come in time, I'm sure.",
                  "It is late for them. I am going home."}},
        TextCase{"ItThisOrThereBeforeAVerbOpensASentence",
                 {segment("just look at it|60|-1|-2|-2 it keeps running|-0.9"),
                  segment("i can prove it|60|-1|-2|-2 this is steel|-0.9"),
                  segment("we went home|60|-1|-2|-2 there today|-0.9")},
                 {"Just look at it. It keeps running.", "I can prove it. This is steel.",
                  "We went home there today."}},
        TextCase{"ASentenceOpenedAtAPauseRunsOnIntoTheNextSegment",
                 {segment("i waited for hours|60|-1|-2|-2 they said|-2.5"), segment("nothing|-0.9"),
                  segment("we looked everywhere|60|-1|-2|-2 there's nothing here|-0.9")},
                 {"I waited for hours. They said", "nothing.",
                  "We looked everywhere. There's nothing here."}},
        TextCase{"NoBreakBetweenAWordAndTheClauseItLeadsInto",
                 {segment("i really think|60|-1|-2|-2 you are right|-0.9"),
                  segment("he told me that|60|-1|-2|-2 it was late|-0.9"),
                  segment("so i was thinking|60|-1|-2|-2 we could go|-0.9"),
                  segment("the thing is|60|-1|-2|-2 we lost the game|-0.9"),
                  segment("he left it as it was|60|-1|-2|-2 we stayed|-0.9")},
                 {"I really think you are right.", "He told me that it was late.",
                  "So I was thinking we could go.", "The thing is we lost the game.",
                  "He left it as it was. We stayed."}},
        TextCase{"ACommentClauseBeforeAnAddress",
                 {segment("you saw me dance|60|-1|-2|-2 i believe|60|-1|-2|-2 sir|-0.9")},
                 {"You saw me dance, I believe, sir."}},
        TextCase{"AnAddressOpeningTheSentenceIsSetOff",
                 {segment("my dear mr bennet|60|-1|-2|-2 have you heard|-0.9"),
                  segment("lizzy|60|-1|-2|-2 remember where you are|-0.9")},
                 {"My dear Mr. Bennet, have you heard?", "Lizzy, remember where you are."}},
        TextCase{
            "AnAddressAfterAClauseClosesIt",
            {segment("you mistake me|60|-1|-2|-2 my dear|60|-1|-2|-2 i have a high respect|-0.9"),
             segment("but|60|-1|-2|-2 my dear|60|-1|-2|-2 you must go|-0.9")},
            {"You mistake me, my dear. I have a high respect.", "But, my dear, you must go."}},
        // Titles written without a dot take a capital before a name; the verb "miss" does not.
        TextCase{
            "ATitleWithoutADotBeforeAName",
            {segment("colonel forster came with captain carter|-0.9"),
             segment("tell miss elizabeth|-0.9"), segment("i miss london|-0.9"),
             segment("you'll miss jane|-0.9"), segment("the colonel said so|-0.9"),
             segment("sir william|60|-1|-2|-2 came|-0.9")},
            {"Colonel Forster came with Captain Carter.", "Tell Miss Elizabeth.", "I miss London.",
             "You'll miss Jane.", "The colonel said so.", "Sir William came."}},
        // A title that the truecasing table knows only with capitals is a name too: a pause
        // before it marks a boundary.
        TextCase{"ATitleTheTableKnowsOnlyWithCapitals",
                 {segment("i called|60|-1|-2|-2 dr brown|-0.9")},
                 {"I called, Dr. Brown."}},
        // Where lists of the same class disagreed before the classes became data: every
        // contraction of a subject pronoun opens a clause, "my child" is an address wherever
        // "my dear" is, the modals and "shouldn't" open questions like the other auxiliaries,
        // "these" and "those" are subjects after them, and an answer after an interjection sets
        // it off.
        TextCase{"EveryContractionOfASubjectPronounOpensAClause",
                 {segment("if he stays|60|-1|-2|-2 they'll go|-0.9"),
                  segment("if so|60|-1|-2|-2 we've won|-0.9")},
                 {"If he stays, they'll go.", "If so, we've won."}},
        TextCase{"AnAddressAfterMyIsSetOff",
                 {segment("listen|60|-1|-2|-2 my child|60|-1|-2|-2 to me|-0.9")},
                 {"Listen, my child, to me."}},
        TextCase{"QuestionsOpenedByAnyAuxiliary",
                 {segment("must you go|-0.9"), segment("shouldn't you be here|-0.9"),
                  segment("can these be yours|-0.9"), segment("may the best man win|-0.9")},
                 {"Must you go?", "Shouldn't you be here?", "Can these be yours?",
                  "May the best man win."}},
        TextCase{"AnAnswerAfterAnInterjection",
                 {segment("oh yes|-0.9"), segment("oh well so be it|-0.9")},
                 {"Oh, yes.", "Oh well so be it."}}),
    testing::namedBy<&TextCase::name>);

}  // namespace
}  // namespace ondevice::platform
