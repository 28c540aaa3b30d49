// The undo ring and its six record kinds. Skeleton of every record: read the parameter's
// current value, set the saved one through the kind's setter, keep what was read.
#include "host/undo.h"

#include "host/parameter.h"

namespace ov {

pfUndoParameterPosition::pfUndoParameterPosition(pfParameterPosition* p)
    : pfUndo(p), x(p ? p->GetX() : 0.0), y(p ? p->GetY() : 0.0) {}

void pfUndoParameterPosition::Apply() {
  auto* p = static_cast<pfParameterPosition*>(parameter_);
  if (!p) return;
  const double cx = p->GetX(), cy = p->GetY();
  p->SetPosition(x, y); // refreshes its control on change
  x = cx;
  y = cy;
}

pfUndoParameterBool::pfUndoParameterBool(pfParameterBool* p) : pfUndo(p), value(p ? p->GetValue() : false) {}

void pfUndoParameterBool::Apply() {
  auto* p = static_cast<pfParameterBool*>(parameter_);
  if (!p) return;
  const bool current = p->GetValue();
  p->SetValue(value);
  value = current;
  p->UpdateUI();
}

pfUndoParameterInt::pfUndoParameterInt(pfParameterInt* p) : pfUndo(p), value(p ? p->GetValue() : 0) {}

void pfUndoParameterInt::Apply() {
  auto* p = static_cast<pfParameterInt*>(parameter_);
  if (!p) return;
  const int32_t current = p->GetValue();
  p->SetValue(value);
  value = current;
  p->UpdateUI();
}

pfUndoParameterFloat::pfUndoParameterFloat(pfParameterFloat* p) : pfUndo(p), value(p ? p->GetValue() : 0.0) {}

void pfUndoParameterFloat::Apply() {
  auto* p = static_cast<pfParameterFloat*>(parameter_);
  if (!p) return;
  const double current = p->GetValue();
  p->SetValue(value);
  value = current;
  p->UpdateUI();
}

pfUndoParameterList::pfUndoParameterList(pfParameterList* p) : pfUndo(p), selection(p ? p->GetSelection() : 1) {}

void pfUndoParameterList::Apply() {
  auto* p = static_cast<pfParameterList*>(parameter_);
  if (!p) return;
  // An index the list no longer has is ignored by Select; the record then keeps the
  // current selection.
  const int32_t current = p->GetSelection();
  p->Select(selection);
  selection = current;
  p->UpdateUI();
}

pfUndoParameterRGB::pfUndoParameterRGB(pfParameterRGB* p) : pfUndo(p), r(1.0), g(1.0), b(1.0) {
  if (p) p->GetColor(r, g, b);
}

void pfUndoParameterRGB::Apply() {
  auto* p = static_cast<pfParameterRGB*>(parameter_);
  if (!p) return;
  double cr, cg, cb;
  p->GetColor(cr, cg, cb);
  p->SetColor(r, g, b);
  r = cr;
  g = cg;
  b = cb;
  p->UpdateUI();
}

pfUndoStack::~pfUndoStack() {
  for (Entry& e : entries_) delete e.record;
}

void pfUndoStack::Push(pfUndo* record) {
  if (!record) return;
  if (!recording_) {
    delete record;
    return;
  }
  if (cursor_ - kCapacity >= first_) {
    // Full: drop the whole oldest step (all of it up to the cursor when it is the open one).
    const int32_t s = At(first_).step;
    do {
      ++first_;
    } while (first_ < cursor_ && At(first_).step == s);
  }
  Entry& e = At(cursor_);
  delete e.record;
  e.record = record;
  e.step = step_;
  ++cursor_;
  last_ = cursor_ - 1;
}

bool pfUndoStack::Undo() {
  if (cursor_ <= first_) return false;
  const int32_t s = At(cursor_ - 1).step;
  do {
    --cursor_;
    if (pfUndo* r = At(cursor_).record) r->Apply();
  } while (cursor_ > first_ && At(cursor_ - 1).step == s);
  return true;
}

bool pfUndoStack::Redo() {
  if (cursor_ > last_) return false;
  const int32_t s = At(cursor_).step;
  do {
    if (pfUndo* r = At(cursor_).record) r->Apply();
    ++cursor_;
  } while (cursor_ <= last_ && At(cursor_).step == s);
  return true;
}

} // namespace ov
