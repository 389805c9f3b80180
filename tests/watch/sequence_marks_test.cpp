#include <gtest/gtest.h>

#include "watch/sequence_marks.h"

namespace vantrel {
namespace {

using Action = SequenceMarks::Action;
using Plan = SequenceMarks::Plan;

// A sequence identifier made of one repeated hexadecimal digit.
std::string Id(char digit) { return std::string(32, digit); }

// Whether an entry is new, as a table: the stored marks (as the settings
// hold them, beside the number), a sequence of the journal with its
// highest number, and what a check does with it. No time takes part.
TEST(SequenceMarksTest, WhatIsNew) {
  const std::string a = Id('a'), b = Id('b');
  struct Row {
    const char* name;
    std::string stored;
    std::int64_t number;
    JournalSequence sequence;
    Plan plan;
  } rows[] = {
      {"known, entries above its mark", a + "=7", 7, {a, 9}, {Action::kReadAbove, 7}},
      {"known, nothing above its mark", a + "=7", 7, {a, 7}, {Action::kSkip, 7}},
      {"known, its files hold less than the mark", a + "=7", 7, {a, 3}, {Action::kSkip, 7}},
      {"never seen: read whole, whatever the number", a + "=7", 7, {b, 2}, {Action::kReadAbove, 0}},
      {"never seen while one was left out for the bound", a + "=7,forgot", 7, {b, 2}, {Action::kReadIfOfThisBoot, 0}},
      {"each known sequence has its own mark", a + "=7," + b + "=900", 7, {b, 950}, {Action::kReadAbove, 900}},
      {"no position: the number rule, above", "", 7, {b, 9}, {Action::kReadAbove, 7}},
      {"no position: the number rule, nothing above", "", 7, {b, 7}, {Action::kSkip, 7}},
      {"no position, first run", "", 0, {b, 1}, {Action::kReadAbove, 0}},
      {"the number rule kept for sequences not reached", a + "=9,floor=4", 4, {b, 5}, {Action::kReadAbove, 4}},
      {"a known sequence goes by its mark, not the number rule", a + "=9,floor=4", 4, {a, 9}, {Action::kSkip, 9}},
      {"numbers past 63 bits",
       a + "=18446744073709551614",
       -1,
       {a, 18446744073709551615u},
       {Action::kReadAbove, 18446744073709551614u}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<SequenceMarks> marks = SequenceMarks::Read(row.stored, row.number);
    ASSERT_TRUE(marks);
    EXPECT_EQ(marks->PlanFor(row.sequence), row.plan);
  }
}

// A stored position the marks cannot come from: the number alone decides.
TEST(SequenceMarksTest, WhatIsNotAPosition) {
  const std::string a = Id('a');
  std::string seventeen;
  for (int i = 10; i < 27; ++i) seventeen += (i > 10 ? "," : "") + std::string(30, 'c') + std::to_string(i) + "=1";
  struct Row {
    const char* name;
    std::string stored;
    std::int64_t number;
  } rows[] = {
      {"a journal cursor, for the number", "s=" + a + ";i=7;b=" + Id('1') + ";m=5;t=6;x=9", 7},
      {"a journal cursor for another number", "s=" + a + ";i=8;b=" + Id('1'), 7},
      {"a short sequence identifier", std::string(31, 'a') + "=7", 7},
      {"upper-case digits", std::string(32, 'A') + "=7", 7},
      {"a mark that is no number", a + "=seven", 7},
      {"a negative mark", a + "=-1", 7},
      {"a sequence twice", a + "=7," + a + "=8", 7},
      {"a floor that is no number", a + "=7,floor=x", 7},
      {"an empty item", a + "=7,", 7},
      {"more sequences than the bound", seventeen, 7},
      {"text of a year ahead", "2027-12-11 00:00:00", 7},
  };
  for (const Row& row : rows) EXPECT_FALSE(SequenceMarks::Read(row.stored, row.number)) << row.name;
}

// A check moves marks on and never back; the text keeps the sequences that
// moved on newest first, then the others, those still in the journal first;
// past the bound the oldest are left out and the text says so until every
// sequence of the journal is known again. What it writes reads back the same.
// A sequence identifier whose first digits tell it by i.
std::string Numbered(std::size_t i) { return (i < 10 ? "0" : "") + std::to_string(i) + std::string(30, 'd'); }

TEST(SequenceMarksTest, ACheckMovesMarksOnAndKeepsTheNewestWithinTheBound) {
  const std::string a = Id('a'), b = Id('b'), c = Id('c');
  std::optional<SequenceMarks> marks = SequenceMarks::Read(a + "=5," + b + "=9," + c + "=2", 0);
  ASSERT_TRUE(marks);
  const std::vector<JournalSequence> present{{a, 8}, {c, 2}};
  marks->Advance(a, 8);
  marks->Advance(c, 1);  // behind its mark: it stays
  marks->Finish(present, true);
  EXPECT_EQ(marks->Text(), a + "=8," + c + "=2," + b + "=9");
  const std::optional<SequenceMarks> reread = SequenceMarks::Read(marks->Text(), 0);
  ASSERT_TRUE(reread);
  EXPECT_EQ(reread->Text(), marks->Text());

  SequenceMarks many;
  std::vector<JournalSequence> journal;
  for (std::size_t i = 0; i < SequenceMarks::kBound + 2; ++i) {
    journal.push_back({Numbered(i), 1});
    many.Advance(journal.back().id, 1);  // the last one moved on last
  }
  many.Finish(journal, true);
  std::optional<SequenceMarks> kept = SequenceMarks::Read(many.Text(), 0);
  ASSERT_TRUE(kept) << many.Text();
  EXPECT_TRUE(many.Text().ends_with(",left=01dddddd:1.00dddddd:1")) << many.Text();
  EXPECT_EQ(kept->PlanFor({journal.front().id, 5}), (Plan{Action::kReadAbove, 1})) << "left out: above its own mark";
  EXPECT_EQ(kept->PlanFor(journal.back()).action, Action::kSkip);
  EXPECT_EQ(kept->PlanFor({Numbered(90), 5}), (Plan{Action::kReadAbove, 0})) << "never seen: new, also past the bound";
  // Once the ones left out have gone from the journal, none is left out.
  kept->Finish(std::vector<JournalSequence>(journal.begin() + 2, journal.end()), true);
  EXPECT_EQ(kept->Text().find("left="), std::string::npos) << kept->Text();
}

// More sequences left out than the list of them holds: from then on, until
// every sequence of the journal is known again, any sequence the marks do
// not know counts only its entries of the running boot.
TEST(SequenceMarksTest, AnOverflowingListOfThoseLeftOutFallsBackToTheRunningBoot) {
  SequenceMarks marks;
  std::vector<JournalSequence> journal;
  for (std::size_t i = 0; i < SequenceMarks::kBound + SequenceMarks::kLeftBound + 1; ++i) {
    journal.push_back({Numbered(i), 1});
    marks.Advance(journal.back().id, 1);
  }
  marks.Finish(journal, true);
  const std::optional<SequenceMarks> kept = SequenceMarks::Read(marks.Text(), 0);
  ASSERT_TRUE(kept) << marks.Text();
  EXPECT_TRUE(marks.Text().ends_with(",forgot")) << marks.Text();
  EXPECT_EQ(kept->PlanFor({Numbered(99), 5}).action, Action::kReadIfOfThisBoot);
}

// Past the bound, a sequence written in the running boot is kept over ones
// of earlier boots, even over those that moved on after it; of the others,
// the ones the journal no longer holds are left out first.
TEST(SequenceMarksTest, TheBoundLeavesOutSequencesOfEarlierBootsFirst) {
  const std::string running = Id('e'), gone = Id('f');
  std::optional<SequenceMarks> marks = SequenceMarks::Read(running + "=3," + gone + "=4", 0);
  ASSERT_TRUE(marks);
  std::vector<JournalSequence> journal{{running, 3, true}};
  for (std::size_t i = 0; i + 1 < SequenceMarks::kBound; ++i) {
    journal.push_back({Numbered(i), 1, false});
    marks->Advance(journal.back().id, 1);
  }
  marks->Finish(journal, true);
  const std::optional<SequenceMarks> kept = SequenceMarks::Read(marks->Text(), 0);
  ASSERT_TRUE(kept) << marks->Text();
  EXPECT_EQ(kept->PlanFor(journal.front()), (Plan{Action::kSkip, 3})) << marks->Text();
  EXPECT_EQ(marks->Text().find(gone), std::string::npos) << marks->Text();
  EXPECT_FALSE(marks->Text().ends_with(",forgot")) << "only a sequence the journal no longer holds was left out";

  journal.push_back({Id('0'), 1, false});
  SequenceMarks more = *kept;
  more.Advance(journal.back().id, 1);
  more.Finish(journal, true);
  EXPECT_EQ(more.PlanFor(journal.front()), (Plan{Action::kSkip, 3})) << more.Text();
  EXPECT_EQ(more.PlanFor({journal[1].id, 4}), (Plan{Action::kReadAbove, 1})) << "the oldest of an earlier boot";
}

// A check that ended part way keeps the number rule for the sequences it
// did not reach; a complete one drops it.
TEST(SequenceMarksTest, TheNumberRuleStaysUntilACheckReachesEverySequence) {
  const std::string a = Id('a'), b = Id('b');
  const std::vector<JournalSequence> present{{a, 9}, {b, 9}};
  for (bool complete : {false, true}) {
    SequenceMarks marks = SequenceMarks::NumberRule(4);
    marks.Advance(a, 9);
    marks.Finish(present, complete);
    const std::optional<SequenceMarks> next = SequenceMarks::Read(marks.Text(), 9);
    ASSERT_TRUE(next) << marks.Text();
    EXPECT_EQ(next->PlanFor({b, 9}), complete ? (Plan{Action::kReadAbove, 0}) : (Plan{Action::kReadAbove, 4}))
        << marks.Text();
  }
}

}  // namespace
}  // namespace vantrel
