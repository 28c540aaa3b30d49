// Fuzz target: the scripting-descriptor reader driven by a hostile host. The input decides
// the host's behaviour (play info, whether a reader is handed out, which get call fails,
// close errors, host or fallback handles, a spoilt procedure table) and the descriptor's
// items: keys of the parameter set or unknown ones, in any order, of any type, with any
// value bits (NaN and infinities included). Properties checked:
// - after ValidateAll every value is finite and within its hard limits;
// - what WriteScriptParams writes reads back into a fresh set as the same values;
// - no handle leaks (LeakSanitizer) and no memory error (AddressSanitizer).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/fake_descriptor_host.h"
#include "host/sample_parameters.h"

namespace {

using ov::test::FakeDescriptorHost;
using ov::test::FakeValue;
using ov::test::SampleParameters;

const char* const kKeys[] = {"RADI", "HIPR", "HIAD", "FOPO", "DEIN", "SEIS", "OUIM", "OUCR", "OUCG",
                             "OUCB", "GACO", "DECU", "IRFA", "IFAN", "IRRF", "IRBO", "IRBB", "IRAS",
                             "IRSO", "SHOW", "SELL", "SELH", "SELS", "SELC"};

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool Empty() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  template <class T>
  T Raw() {
    T v{};
    uint8_t bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = Byte();
    std::memcpy(&v, bytes, sizeof(T));
    return v;
  }
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
  }
}

void CheckValid(SampleParameters& p) {
  for (int i = 0; i < p.set.GetCount(); ++i) {
    ov::pfParameter* q = p.set.GetParameter(i);
    switch (q->GetKind()) {
    case ov::pfParameterKind::Float: {
      auto* f = static_cast<ov::pfParameterFloat*>(q);
      Check(std::isfinite(f->GetValue()), "finite float");
      if (f->IsMinimumClamped()) Check(f->GetValue() >= f->GetMinimum(), "hard minimum");
      if (f->IsMaximumClamped()) Check(f->GetValue() <= f->GetMaximum(), "hard maximum");
      break;
    }
    case ov::pfParameterKind::Int: {
      auto* n = static_cast<ov::pfParameterInt*>(q);
      if (n->IsMinimumClamped()) Check(n->GetValue() >= n->GetMinimum(), "int hard minimum");
      break;
    }
    case ov::pfParameterKind::List: {
      auto* l = static_cast<ov::pfParameterList*>(q);
      Check(l->GetSelection() >= 1 && l->GetSelection() <= l->GetItemCount(), "list selection");
      break;
    }
    case ov::pfParameterKind::RGB: {
      double r, g, b;
      static_cast<ov::pfParameterRGB*>(q)->GetColor(r, g, b);
      Check(r >= 0 && r <= 1 && g >= 0 && g <= 1 && b >= 0 && b <= 1, "colour");
      break;
    }
    default:
      break;
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const uint8_t flags = in.Byte();
  FakeDescriptorHost host;
  host.params.playInfo = int16_t(flags & 3);
  host.openReadFails = (flags & 4) != 0;
  if (flags & 8) host.UseFallbackHandles();
  host.closeReadError = (flags & 16) ? ::OSErr(-1) : ::OSErr(0);
  host.failGetAt = (flags & 32) ? int(in.Byte()) : -1;
  if (flags & 64) { // spoil one entry of the read table (the interface is then invalid)
    auto* procs = reinterpret_cast<void (**)(void)>(reinterpret_cast<char*>(&host.read) +
                                                    offsetof(HostProcTableView, procs));
    procs[in.Byte() % 18] = nullptr;
  }
  if (flags & 128) host.read.numReadDescriptorProcs = int16_t(in.Byte() % 20);

  std::vector<FakeValue> items;
  while (!in.Empty() && items.size() < 256) {
    FakeValue v;
    const uint8_t k = in.Byte();
    v.key = k < 24 * 8 ? SampleParameters::Key(kKeys[k % 24]) : in.Raw<uint32_t>();
    switch (in.Byte() & 3) {
    case 0:
      v.type = typeInteger;
      v.i = in.Raw<int32_t>();
      break;
    case 1:
      v.type = typeFloat;
      v.f = in.Raw<double>();
      break;
    case 2:
      v.type = typeBoolean;
      v.b = in.Byte();
      break;
    default:
      v.type = in.Raw<uint32_t>();
      v.i = in.Raw<int32_t>();
      break;
    }
    items.push_back(v);
  }
  host.SetDescriptor(items);

  SampleParameters p;
  const bool dialog = p.set.ReadScriptParams(&host.record);
  (void)dialog;
  p.set.ValidateAll();
  CheckValid(p);

  // Written back and read again into a fresh set: the same values (with a sound host).
  FakeDescriptorHost sound;
  Check(p.set.WriteScriptParams(&sound.record) == 0, "write result");
  SampleParameters fresh;
  fresh.set.ReadScriptParams(&sound.record);
  for (int i = 0; i < p.set.GetCount(); ++i)
    Check(fresh.set.GetParameter(i)->FormatPresetLine() == p.set.GetParameter(i)->FormatPresetLine(),
          "round trip");
  // The hostile host gets its own write too.
  FakeDescriptorHost::current = &host;
  p.set.WriteScriptParams(&host.record);
  return 0;
}
