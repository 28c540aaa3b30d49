// The scripting descriptor through a fake host: every key written and read back, the
// interface validity rules, the close functions, and a host that misbehaves.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "fake_descriptor_host.h"
#include "host/host_os.h"
#include "host/parameters.h"
#include "host/sdk_utils.h"
#include "sample_parameters.h"

namespace ov {
namespace {

using test::FakeDescriptorHost;
using test::FakeValue;
using test::SampleParameters;

FakeValue Int(const char* key, int32_t v) {
  FakeValue f;
  f.key = SampleParameters::Key(key);
  f.type = typeInteger;
  f.i = v;
  return f;
}
FakeValue Flt(const char* key, double v) {
  FakeValue f;
  f.key = SampleParameters::Key(key);
  f.type = typeFloat;
  f.f = v;
  return f;
}
FakeValue Bool(const char* key, bool v) {
  FakeValue f;
  f.key = SampleParameters::Key(key);
  f.type = typeBoolean;
  f.b = v ? 1 : 0;
  return f;
}

TEST(Descriptor, WritesEveryKeyInSetOrder) {
  FakeDescriptorHost host;
  SampleParameters p;
  p.outside.Select(4);
  p.colorOutside.SetColor(0.25, 0.5, 0.75);
  EXPECT_EQ(p.set.WriteScriptParams(&host.record), noErr);
  EXPECT_EQ(host.closeWriteCalls, 1);
  EXPECT_EQ(host.params.recordInfo, plugInDialogOptional);
  const std::vector<FakeValue> expected = {
      Flt("RADI", 5),   Flt("HIPR", 5),   Flt("HIAD", 0),    Flt("FOPO", 255),  Bool("DEIN", false),
      Int("SEIS", 1),   Int("OUIM", 4),   Flt("OUCR", 0.25), Flt("OUCG", 0.5),  Flt("OUCB", 0.75),
      Bool("GACO", true), Flt("DECU", 1), Int("IRFA", 5),    Flt("IFAN", 0),    Flt("IRRF", 1),
      Flt("IRBO", 0.2), Flt("IRBB", 0),   Flt("IRAS", 0),    Flt("IRSO", 0),    Int("SHOW", 1),
      Flt("SELL", 200), Flt("SELH", 255), Flt("SELS", 0),    Flt("SELC", 0)};
  EXPECT_EQ(host.Content(host.params.descriptor), expected);
}

TEST(Descriptor, RoundTripOfAllKeys) {
  FakeDescriptorHost host;
  SampleParameters written;
  written.radius.SetValue(17.25);
  written.depthInvert.SetValue(true);
  written.gammaCorrection.SetValue(false);
  written.selectionIs.Select(2);
  written.outside.Select(3);
  written.colorOutside.SetColor(0.1, 0.2, 0.3);
  written.irisFacets.SetValue(11);
  written.irisAngle.SetValue(123.5);
  written.show.Select(6);
  written.selClimax.SetValue(-0.5);
  ASSERT_EQ(written.set.WriteScriptParams(&host.record), noErr);
  Handle descriptor = host.params.descriptor;
  ASSERT_NE(descriptor, nullptr);

  SampleParameters read;
  host.params.playInfo = plugInDialogDontDisplay;
  EXPECT_FALSE(read.set.ReadScriptParams(&host.record));
  for (int i = 0; i < written.set.GetCount(); ++i)
    EXPECT_EQ(read.set.GetParameter(i)->FormatPresetLine(), written.set.GetParameter(i)->FormatPresetLine());
  double r, g, b;
  read.colorOutside.GetColor(r, g, b);
  EXPECT_EQ(g, 0.2);
  // The keys asked for: every set key in set order (24), the page switches have none.
  ASSERT_EQ(host.requestedKeys.size(), 24u);
  EXPECT_EQ(host.requestedKeys.front(), SampleParameters::Key("RADI"));
  EXPECT_EQ(host.requestedKeys[7], SampleParameters::Key("OUCR"));
  EXPECT_EQ(host.requestedKeys.back(), SampleParameters::Key("SELC"));
  // The reader was closed and the descriptor disposed of through the host.
  EXPECT_EQ(host.closeReadCalls, 1);
  EXPECT_EQ(host.params.descriptor, nullptr);
  EXPECT_FALSE(host.IsLiveHostHandle(descriptor));
}

TEST(Descriptor, PlayInfoDecidesTheDialog) {
  struct Row {
    int16_t playInfo;
    bool dialog;
  };
  for (Row row : {Row{plugInDialogDontDisplay, false}, Row{plugInDialogDisplay, true}, Row{plugInDialogSilent, false}}) {
    FakeDescriptorHost host;
    SampleParameters p;
    host.params.playInfo = row.playInfo;
    host.SetDescriptor({});
    EXPECT_EQ(p.set.ReadScriptParams(&host.record), row.dialog);
    host.openReadFails = true; // no reader: still the play info
    host.SetDescriptor({});
    EXPECT_EQ(p.set.ReadScriptParams(&host.record), row.dialog);
  }
  SampleParameters p;
  EXPECT_TRUE(p.set.ReadScriptParams(nullptr)); // no interface: show the dialog
  FilterRecord bare{};
  EXPECT_TRUE(p.set.ReadScriptParams(&bare));
  EXPECT_EQ(p.set.WriteScriptParams(&bare), noErr);
}

TEST(Descriptor, InterfaceValidityRules) {
  struct Row {
    const char* name;
    std::function<void(FakeDescriptorHost&)> spoil;
    bool valid;
  };
  std::vector<Row> rows = {
      {"complete", [](FakeDescriptorHost&) {}, true},
      {"version 1", [](FakeDescriptorHost& h) { h.params.descriptorParametersVersion = 1; }, false},
      {"no read table", [](FakeDescriptorHost& h) { h.params.readDescriptorProcs = nullptr; }, false},
      {"no write table", [](FakeDescriptorHost& h) { h.params.writeDescriptorProcs = nullptr; }, false},
      {"read table version 1", [](FakeDescriptorHost& h) { h.read.readDescriptorProcsVersion = 1; }, false},
      {"17 read procedures", [](FakeDescriptorHost& h) { h.read.numReadDescriptorProcs = 17; }, false},
      {"write table version 1", [](FakeDescriptorHost& h) { h.write.writeDescriptorProcsVersion = 1; }, false},
      {"15 write procedures", [](FakeDescriptorHost& h) { h.write.numWriteDescriptorProcs = 15; }, false},
      {"more procedures than needed", [](FakeDescriptorHost& h) {
         h.read.numReadDescriptorProcs = 20;
         h.write.numWriteDescriptorProcs = 17;
       }, true},
      {"a write procedure missing", [](FakeDescriptorHost& h) { h.write.putStringProc = nullptr; }, true},
  };
  // Each of the 18 read procedures missing on its own.
  for (int i = 0; i < 18; ++i)
    rows.push_back({"read procedure missing", [i](FakeDescriptorHost& h) {
                      auto* procs = reinterpret_cast<void (**)(void)>(reinterpret_cast<char*>(&h.read) +
                                                                      offsetof(HostProcTableView, procs));
                      procs[i] = nullptr;
                    }, false});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDescriptorHost host;
    row.spoil(host);
    EXPECT_EQ(IsDescriptorInterfaceValid(&host.params), row.valid);
  }
  EXPECT_FALSE(IsDescriptorInterfaceValid(nullptr));
}

TEST(Descriptor, AHostileStreamLeavesWhatItCannotRead) {
  FakeDescriptorHost host;
  SampleParameters p;
  int invertCallbacks = 0;
  p.depthInvert.SetChangeCallback([](pfParameter*, void* c) { ++*static_cast<int*>(c); }, &invertCallbacks);
  host.SetDescriptor({
      Flt("ZZZZ", 3.0),      // unknown key
      Int("RADI", 9),        // wrong type for a float
      Flt("OUIM", 2.0),      // wrong type for a list
      Int("OUIM", 9),        // out of the list's range: ignored
      Flt("IRBO", 0.5),      // read
      Int("IRFA", 1),        // below the hard minimum: not clamped on reading
      Bool("DEIN", true),    // read, callback
      Flt("SELH", 100.0),    // the get call that fails (number 6)
      Flt("OUCG", 0.75),     // one colour component
      Flt("IRBO", 0.75),     // a key twice: the later one wins
  });
  host.failGetAt = 6;
  p.set.ReadScriptParams(&host.record);
  EXPECT_EQ(p.radius.GetValue(), 5.0);
  EXPECT_EQ(p.outside.GetSelection(), 2);
  EXPECT_EQ(p.irisBorder.GetValue(), 0.75);
  EXPECT_EQ(p.irisFacets.GetValue(), 1);
  EXPECT_TRUE(p.depthInvert.GetValue());
  EXPECT_EQ(invertCallbacks, 1);
  EXPECT_EQ(p.selHigh.GetValue(), 255.0);
  double r, g, b;
  p.colorOutside.GetColor(r, g, b);
  EXPECT_EQ(r, 1.0);
  EXPECT_EQ(g, 0.75);
  p.set.ValidateAll();
  EXPECT_EQ(p.irisFacets.GetValue(), 3);
}

TEST(Descriptor, NonFiniteValuesDoNotSurviveValidation) {
  FakeDescriptorHost host;
  SampleParameters p;
  host.SetDescriptor({Flt("RADI", std::nan("")), Flt("IRBO", INFINITY), Flt("IFAN", -INFINITY),
                      Flt("OUCR", std::nan("")), Flt("FOPO", std::nan(""))});
  p.set.ReadScriptParams(&host.record);
  p.set.ValidateAll();
  EXPECT_EQ(p.radius.GetValue(), 0.0);    // hard minimum
  EXPECT_EQ(p.irisBorder.GetValue(), 1.0); // clamped to the hard maximum
  EXPECT_EQ(p.irisAngle.GetValue(), 0.0);  // the default
  EXPECT_EQ(p.focalPoint.GetValue(), 255.0);
  double r, g, b;
  p.colorOutside.GetColor(r, g, b);
  EXPECT_EQ(r, 0.0);
}

TEST(DescriptorClose, ReaderDisposesThroughTheHostOrTheFallback) {
  {
    FakeDescriptorHost host;
    host.SetDescriptor({Int("SHOW", 2)});
    host.closeReadError = -42;
    Handle descriptor = host.params.descriptor;
    PIReadDescriptor token = host.read.openReadDescriptorProc(descriptor, nullptr);
    EXPECT_EQ(CloseReadDescriptor(&host.params, &host.handles, token), -42);
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(host.params.descriptor, nullptr);
    EXPECT_EQ(host.hostDisposeCalls, 1);
    EXPECT_FALSE(host.IsLiveHostHandle(descriptor));
  }
  {
    FakeDescriptorHost host;
    host.UseFallbackHandles();
    host.SetDescriptor({Int("SHOW", 2)});
    Handle descriptor = host.params.descriptor;
    void* data = DerefHandle(descriptor);
    ASSERT_TRUE(hostos::GlobalBlockIsBlock(data));
    PIReadDescriptor token = host.read.openReadDescriptorProc(descriptor, nullptr);
    EXPECT_EQ(CloseReadDescriptor(&host.params, &host.handles, token), noErr);
    EXPECT_EQ(host.hostDisposeCalls, 0);
    EXPECT_FALSE(hostos::GlobalBlockIsBlock(data));
    EXPECT_EQ(host.params.descriptor, nullptr);
  }
}

TEST(DescriptorClose, WriterReplacesThePreviousDescriptor) {
  FakeDescriptorHost host;
  host.SetDescriptor({Int("SHOW", 2), Int("OUIM", 3)});
  host.closeWriteError = -7; // not passed on
  PIWriteDescriptor token = host.write.openWriteDescriptorProc();
  host.write.putIntegerProc(token, 1, 5);
  EXPECT_EQ(CloseWriteDescriptor(&host.params, &host.handles, token), noErr);
  EXPECT_EQ(token, nullptr);
  EXPECT_EQ(host.hostDisposeCalls, 1); // the old one went first (its address may be reused)
  ASSERT_NE(host.params.descriptor, nullptr);
  EXPECT_EQ(host.Content(host.params.descriptor).size(), 1u);
  EXPECT_EQ(host.hostHandles.size(), 1u);
  EXPECT_EQ(host.params.recordInfo, plugInDialogOptional);
  // Without a previous descriptor nothing is disposed of.
  FakeDescriptorHost second;
  PIWriteDescriptor t2 = second.write.openWriteDescriptorProc();
  EXPECT_EQ(CloseWriteDescriptor(&second.params, &second.handles, t2), noErr);
  EXPECT_EQ(second.hostDisposeCalls, 0);
  EXPECT_NE(second.params.descriptor, nullptr);
}

TEST(DescriptorClose, WriteWithoutAWriterWritesNothing) {
  FakeDescriptorHost host;
  host.openWriteFails = true;
  SampleParameters p;
  EXPECT_EQ(p.set.WriteScriptParams(&host.record), noErr);
  EXPECT_EQ(host.closeWriteCalls, 0);
  EXPECT_EQ(host.params.descriptor, nullptr);
}

TEST(DescriptorClose, PutObjectAndDispose) {
  FakeDescriptorHost host;
  PIWriteDescriptor token = host.write.openWriteDescriptorProc();
  Handle object = host.MakeDescriptor({});
  EXPECT_EQ(PutObjectAndDispose(&host.params, &host.handles, token, 1, typeObject, object), noErr);
  EXPECT_EQ(object, nullptr);
  host.write.putObjectProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle) -> OSErr {
    return -5;
  };
  Handle kept = host.MakeDescriptor({});
  EXPECT_EQ(PutObjectAndDispose(&host.params, &host.handles, token, 1, typeObject, kept), -5);
  EXPECT_TRUE(host.IsLiveHostHandle(kept));
  host.write.closeWriteDescriptorProc(token, &object);
}

} // namespace
} // namespace ov
