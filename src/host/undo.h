// undo.h - undo records and the undo ring.
//
// A record holds one parameter (not owned) and a value to restore; Apply swaps the saved
// value with the parameter's current one through the kind's setter (so the control
// refreshes on change and Bool, Float and List fire their callback), then refreshes the
// control. Applying a record twice leaves the parameter as it was.
//
// pfUndoStack is a fixed ring of 500 (record, step id) entries. Indexes only grow; the entry
// of index i is i mod 500. first..cursor-1 can be undone, cursor..last redone. Records of
// one user action share a step id: callers push them and then call BeginStep. A push onto
// a full ring drops the whole oldest step; a push after an undo cuts the redo tail off. The
// ring owns every record it holds, reachable or not, and deletes them when their entries are
// reused or the ring is destroyed. Records pushed while recording is off are deleted at once.
// Used on the host's thread only.
#pragma once

#include <cstdint>

namespace ov {

class pfParameter;
class pfParameterPosition;
class pfParameterBool;
class pfParameterInt;
class pfParameterFloat;
class pfParameterList;
class pfParameterRGB;

class pfUndo {
public:
  explicit pfUndo(pfParameter* parameter) : parameter_(parameter) {}
  virtual ~pfUndo() = default;
  pfUndo(const pfUndo&) = delete;
  pfUndo& operator=(const pfUndo&) = delete;
  // Swaps the saved value and the parameter's value; nothing without a parameter.
  virtual void Apply() = 0;
  pfParameter* GetParameter() const { return parameter_; }

protected:
  pfParameter* parameter_;
};

class pfUndoParameterPosition : public pfUndo {
public:
  explicit pfUndoParameterPosition(pfParameterPosition* parameter);
  void Apply() override;
  double x, y;
};

class pfUndoParameterBool : public pfUndo {
public:
  explicit pfUndoParameterBool(pfParameterBool* parameter);
  void Apply() override;
  bool value;
};

class pfUndoParameterInt : public pfUndo {
public:
  explicit pfUndoParameterInt(pfParameterInt* parameter);
  void Apply() override;
  int32_t value;
};

class pfUndoParameterFloat : public pfUndo {
public:
  explicit pfUndoParameterFloat(pfParameterFloat* parameter);
  void Apply() override;
  double value;
};

class pfUndoParameterList : public pfUndo {
public:
  explicit pfUndoParameterList(pfParameterList* parameter);
  void Apply() override;
  int32_t selection; // 1-based
};

class pfUndoParameterRGB : public pfUndo {
public:
  explicit pfUndoParameterRGB(pfParameterRGB* parameter);
  void Apply() override;
  double r, g, b;
};

class pfUndoStack {
public:
  static constexpr int32_t kCapacity = 500;

  pfUndoStack() = default;
  ~pfUndoStack();
  pfUndoStack(const pfUndoStack&) = delete;
  pfUndoStack& operator=(const pfUndoStack&) = delete;

  void SetRecording(bool recording) { recording_ = recording; }
  bool IsRecording() const { return recording_; }
  // Takes ownership of the record (deletes it at once when not recording; null is ignored).
  void Push(pfUndo* record);
  // Closes the current step: records pushed from now on carry a new step id.
  void BeginStep() { ++step_; }
  bool CanUndo() const { return cursor_ > first_; }
  bool CanRedo() const { return cursor_ <= last_; }
  // Apply one step (undo newest record first, redo oldest first); answer whether at least
  // one record was applied.
  bool Undo();
  bool Redo();

  // Inspection, for tests and the dialog's state.
  int32_t First() const { return first_; }
  int32_t Last() const { return last_; }
  int32_t Cursor() const { return cursor_; }
  int32_t Step() const { return step_; }

private:
  struct Entry {
    pfUndo* record = nullptr;
    int32_t step = -1;
  };
  Entry& At(int32_t index) { return entries_[index % kCapacity]; }

  Entry entries_[kCapacity];
  int32_t first_ = 0;
  int32_t last_ = -1;
  int32_t cursor_ = 0;
  int32_t step_ = 0;
  bool recording_ = false;
};

} // namespace ov
