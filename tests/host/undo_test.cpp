// The undo ring: steps, order, the redo tail, the 500-record limit, and the six records.
#include <gtest/gtest.h>

#include <vector>

#include "host/parameter.h"
#include "host/undo.h"

namespace ov {
namespace {

// A record that logs its applications and counts its deletions.
struct LoggingUndo : pfUndo {
  LoggingUndo(int id, std::vector<int>* log, int* deleted) : pfUndo(nullptr), id(id), log(log), deleted(deleted) {}
  ~LoggingUndo() override { ++*deleted; }
  void Apply() override { log->push_back(id); }
  int id;
  std::vector<int>* log;
  int* deleted;
};

struct Ring {
  pfUndoStack ring;
  std::vector<int> log;
  int deleted = 0;
  Ring() { ring.SetRecording(true); }
  void Push(int id) { ring.Push(new LoggingUndo(id, &log, &deleted)); }
};

TEST(UndoRing, NewRingHasNothingToDo) {
  pfUndoStack ring;
  EXPECT_FALSE(ring.CanUndo());
  EXPECT_FALSE(ring.CanRedo());
  EXPECT_FALSE(ring.Undo());
  EXPECT_FALSE(ring.Redo());
  EXPECT_EQ(ring.Cursor(), 0);
  EXPECT_EQ(ring.Last(), -1);
}

TEST(UndoRing, RecordsPushedWhileNotRecordingAreDeleted) {
  pfUndoStack ring;
  std::vector<int> log;
  int deleted = 0;
  ring.Push(new LoggingUndo(1, &log, &deleted));
  ring.Push(nullptr);
  EXPECT_EQ(deleted, 1);
  EXPECT_FALSE(ring.CanUndo());
}

TEST(UndoRing, StepsUndoNewestFirstAndRedoOldestFirst) {
  Ring r;
  r.Push(1);
  r.Push(2);
  r.ring.BeginStep();
  r.Push(3);
  r.ring.BeginStep();
  EXPECT_TRUE(r.ring.Undo());
  EXPECT_EQ(r.log, (std::vector<int>{3}));
  EXPECT_TRUE(r.ring.Undo());
  EXPECT_EQ(r.log, (std::vector<int>{3, 2, 1}));
  EXPECT_FALSE(r.ring.CanUndo());
  EXPECT_FALSE(r.ring.Undo());
  EXPECT_TRUE(r.ring.Redo());
  EXPECT_EQ(r.log, (std::vector<int>{3, 2, 1, 1, 2}));
  EXPECT_TRUE(r.ring.CanRedo());
  EXPECT_TRUE(r.ring.Redo());
  EXPECT_EQ(r.log, (std::vector<int>{3, 2, 1, 1, 2, 3}));
  EXPECT_FALSE(r.ring.CanRedo());
  EXPECT_FALSE(r.ring.Redo());
}

TEST(UndoRing, PushAfterUndoDropsTheRedoTail) {
  Ring r;
  r.Push(1);
  r.ring.BeginStep();
  r.Push(2);
  r.ring.BeginStep();
  r.ring.Undo();
  EXPECT_TRUE(r.ring.CanRedo());
  r.Push(3);
  EXPECT_FALSE(r.ring.CanRedo());
  r.ring.BeginStep();
  r.ring.Undo();
  r.ring.Undo();
  EXPECT_EQ(r.log, (std::vector<int>{2, 3, 1}));
}

TEST(UndoRing, OldestWholeStepGoesPast500Records) {
  Ring r;
  for (int i = 0; i < 501; ++i) {
    r.Push(i);
    r.ring.BeginStep();
  }
  EXPECT_EQ(r.ring.First(), 1);
  int undone = 0;
  while (r.ring.Undo()) ++undone;
  EXPECT_EQ(undone, 500);
  EXPECT_EQ(r.log.back(), 1);
  EXPECT_FALSE(r.ring.Undo());
}

TEST(UndoRing, FullRingDropsAWholeMultiRecordStep) {
  Ring r;
  for (int i = 0; i < 3; ++i) r.Push(i); // step 0: three records
  r.ring.BeginStep();
  for (int i = 3; i < 500; ++i) {
    r.Push(i);
    r.ring.BeginStep();
  }
  r.Push(500); // full: step 0 goes as a whole
  EXPECT_EQ(r.ring.First(), 3);
  r.ring.BeginStep();
  int undone = 0;
  while (r.ring.Undo()) ++undone;
  EXPECT_EQ(undone, 498);
  EXPECT_EQ(r.log.back(), 3);
}

TEST(UndoRing, AnOpenStepLongerThanTheRingDropsItsOwnOlderRecords) {
  Ring r;
  for (int i = 0; i < 503; ++i) r.Push(i); // one open step
  EXPECT_EQ(r.ring.Cursor(), 503);
  EXPECT_EQ(r.ring.First(), 500); // every entry before the cursor went at push 500
  EXPECT_TRUE(r.ring.Undo());
  EXPECT_EQ(r.log, (std::vector<int>{502, 501, 500}));
  EXPECT_FALSE(r.ring.CanUndo());
}

TEST(UndoRing, DestructionDeletesEveryRecordReachableOrNot) {
  std::vector<int> log;
  int deleted = 0;
  {
    pfUndoStack ring;
    ring.SetRecording(true);
    for (int i = 0; i < 600; ++i) ring.Push(new LoggingUndo(i, &log, &deleted));
    EXPECT_EQ(deleted, 100); // entries reused
    ring.Undo();
  }
  EXPECT_EQ(deleted, 600);
}

// The six records swap values through the setters; applying twice restores.
TEST(UndoRecords, ApplySwapsAndTwiceRestores) {
  pfParameterPosition position;
  pfParameterBool flag;
  pfParameterInt integer;
  pfParameterFloat real;
  pfParameterList list;
  pfParameterRGB colour;
  list.AddItem("a");
  list.AddItem("b");
  list.AddItem("c");
  position.SetPosition(0.1, 0.2);
  flag.SetValue(true);
  integer.SetValue(3);
  real.SetValue(1.5);
  list.Select(2);
  colour.SetColor(0.1, 0.2, 0.3);
  pfParameter* all[] = {&position, &flag, &integer, &real, &list, &colour};
  std::vector<std::unique_ptr<pfUndo>> records;
  for (pfParameter* p : all) records.emplace_back(p->CreateUndo());
  position.SetPosition(0.5, 0.6);
  flag.SetValue(false);
  integer.SetValue(9);
  real.SetValue(-2.0);
  list.Select(3);
  colour.SetColor(0.7, 0.8, 0.9);
  for (auto& r : records) r->Apply();
  double r, g, b;
  colour.GetColor(r, g, b);
  EXPECT_EQ(r, 0.1);
  EXPECT_EQ(g, 0.2);
  EXPECT_EQ(position.GetX(), 0.1);
  EXPECT_EQ(position.GetY(), 0.2);
  EXPECT_TRUE(flag.GetValue());
  EXPECT_EQ(integer.GetValue(), 3);
  EXPECT_EQ(real.GetValue(), 1.5);
  EXPECT_EQ(list.GetSelection(), 2);
  EXPECT_EQ(b, 0.3);
  for (auto& rec : records) rec->Apply();
  colour.GetColor(r, g, b);
  EXPECT_EQ(position.GetX(), 0.5);
  EXPECT_FALSE(flag.GetValue());
  EXPECT_EQ(integer.GetValue(), 9);
  EXPECT_EQ(real.GetValue(), -2.0);
  EXPECT_EQ(list.GetSelection(), 3);
  EXPECT_EQ(position.GetY(), 0.6);
  // Each channel comes back as it was, not one channel's value in another's place.
  EXPECT_EQ(r, 0.7);
  EXPECT_EQ(g, 0.8);
  EXPECT_EQ(b, 0.9);
}

TEST(UndoRecords, ListIndexTheListNoLongerHasIsIgnored) {
  pfParameterList list;
  for (int i = 0; i < 5; ++i) list.AddItem("x");
  list.Select(5);
  std::unique_ptr<pfUndo> record(list.CreateUndo());
  list.Select(1);
  list.ClearItems();
  list.AddItem("y");
  list.AddItem("z");
  record->Apply();
  EXPECT_EQ(list.GetSelection(), 1);
  auto* typed = static_cast<pfUndoParameterList*>(record.get());
  EXPECT_EQ(typed->selection, 1); // the record now holds the current selection
}

TEST(UndoRecords, UndoThenRedoLeavesParametersAsBefore) {
  pfParameterFloat a, b;
  pfUndoStack ring;
  ring.SetRecording(true);
  ring.Push(a.CreateUndo());
  a.SetValue(1);
  ring.Push(b.CreateUndo());
  b.SetValue(2);
  ring.BeginStep();
  ring.Push(a.CreateUndo());
  a.SetValue(3);
  ring.BeginStep();
  ring.Undo();
  EXPECT_EQ(a.GetValue(), 1);
  ring.Undo();
  EXPECT_EQ(a.GetValue(), 0);
  EXPECT_EQ(b.GetValue(), 0);
  ring.Redo();
  EXPECT_EQ(a.GetValue(), 1);
  EXPECT_EQ(b.GetValue(), 2);
  ring.Redo();
  EXPECT_EQ(a.GetValue(), 3);
}

} // namespace
} // namespace ov
