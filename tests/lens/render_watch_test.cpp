// The render watch: while a render runs, the host's thread waits for the pool and drives the
// host's progress and abort procedures; an abort stops either engine within a row, frees every
// block, and a watched render (the caller waiting beside its workers) writes the same bits as
// the plain one on one thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fake_host.h"
#include "host/pf_filter.h"
#include "lens/pelidorn_filter.h"
#include "platform/platform.h"

namespace {

enum class Engine { OutOfFocus, DepthOfField };

const char* Name(Engine e) { return e == Engine::OutOfFocus ? "out of focus" : "depth of field"; }

// An RGB document with structure in every row (so that no engine takes a shortcut) and, for
// the depth-of-field engine, a depth ramp as its selection.
struct Document {
    static constexpr int kWidth = 360, kHeight = 240;
    lens_test::FakeHost host{kWidth, kHeight, 3};
    ov::pfFilterPelidorn filter{"\xBBPelidorn\xAB", "Ostrovanne", 1, 4, 5, "desc\n"};

    Document(Engine engine, int32_t threads) {
        for (size_t i = 0; i < host.in.size(); ++i) host.in[i] = uint8_t((i * 2654435761u) >> 24);
        if (engine == Engine::DepthOfField) {
            host.rec.haveMask = 1;
            host.mask.resize(size_t(kWidth) * kHeight);
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) host.mask[size_t(y) * kWidth + x] = uint8_t(x * 255 / (kWidth - 1));
        }
        filter.threadCountSetting = threads;
        filter.Radius.SetValue(engine == Engine::DepthOfField ? 40.0 : 20.0);
        filter.bufferSuite = &host.buffer;
        filter.filterRecord = &host.rec;
        EXPECT_EQ(ov::pfFilter::SetupFilterRecord(&host.rec, 1), 0);
    }
};

// The host's abort procedure: true from its Nth call on, or once the progress handed to
// the host has reached a fraction.
struct AbortRule {
    int call = 0;           // 0: not by count
    double fraction = 0.0;  // 0: not by progress
};
AbortRule abortRule;
Boolean AbortByRule() {
    lens_test::FakeHost* h = lens_test::FakeHost::current;
    ++h->abortCalls;
    if (abortRule.call) return h->abortCalls >= abortRule.call;
    const auto& p = h->progressCalls.back();
    return p.second > 0 && double(p.first) / p.second >= abortRule.fraction;
}

double Fraction(const std::pair<int32_t, int32_t>& p) { return p.second > 0 ? double(p.first) / p.second : 0.0; }

}  // namespace

// A host that aborts at its first progress call, or once the bar has passed a fraction (in the
// middle of the rows, for the depth-of-field engine in the middle of its tiles): the render
// answers -128, the host is not asked again, the bar never went backwards, and every block
// taken from the host is given back. The watch looks as often as the pool allows.
TEST(RenderWatch, HostAbortStopsEitherEngine) {
    struct Row {
        Engine engine;
        AbortRule rule;
    };
    const Row rows[] = {
        {Engine::OutOfFocus, {1, 0.0}},   {Engine::OutOfFocus, {0, 0.3}},   {Engine::OutOfFocus, {0, 0.6}},
        {Engine::DepthOfField, {1, 0.0}}, {Engine::DepthOfField, {0, 0.2}}, {Engine::DepthOfField, {0, 0.5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << Name(row.engine) << ", abort at call " << row.rule.call << " / fraction "
                                        << row.rule.fraction);
        Document doc(row.engine, 2);
        doc.filter.watchIntervalMs = 0;
        abortRule = row.rule;
        doc.host.rec.abortProc = AbortByRule;
        EXPECT_EQ(doc.filter.RenderWatched(&doc.host.rec), int16_t(userCanceledErr));
        ASSERT_FALSE(doc.host.progressCalls.empty());
        EXPECT_EQ(doc.host.progressCalls.size(), size_t(doc.host.abortCalls));
        if (row.rule.call) {
            EXPECT_EQ(doc.host.abortCalls, row.rule.call);
        }
        for (size_t i = 1; i < doc.host.progressCalls.size(); ++i)
            ASSERT_LE(Fraction(doc.host.progressCalls[i - 1]), Fraction(doc.host.progressCalls[i])) << i;
        const double last = Fraction(doc.host.progressCalls.back());
        if (row.rule.fraction > 0) {
            EXPECT_GE(last, row.rule.fraction);
            EXPECT_LT(last, 1.0);
        }
        EXPECT_EQ(doc.host.bufferNews, doc.host.bufferDisposes);
    }
}

// Watched and plain renders write the same bits: eight workers beside a waiting caller, the
// caller and seven workers, and one thread; the host is asked for progress along the way
// (more than once), the bar only moves forward, and nothing is left allocated.
TEST(RenderWatch, WatchedRenderEqualsThePlainRenderBitForBit) {
    for (Engine engine : {Engine::OutOfFocus, Engine::DepthOfField}) {
        SCOPED_TRACE(Name(engine));
        Document plain(engine, 1);
        ASSERT_EQ(plain.filter.Render(&plain.host.rec), 0);
        const std::vector<uint8_t> expected = plain.host.out;
        for (int32_t threads : {1, 8}) {
            SCOPED_TRACE(testing::Message() << threads << " threads");
            Document doc(engine, threads);
            ASSERT_EQ(doc.filter.Render(&doc.host.rec), 0);
            EXPECT_EQ(doc.host.out, expected) << "plain render";
            std::fill(doc.host.out.begin(), doc.host.out.end(), uint8_t(0));
            doc.filter.watchIntervalMs = 0;
            doc.host.progressCalls.clear();
            ASSERT_EQ(doc.filter.RenderWatched(&doc.host.rec), 0);
            EXPECT_EQ(doc.host.out, expected) << "watched render";
            EXPECT_TRUE(doc.filter.threadPool.CallerWaits());
            EXPECT_GE(doc.host.progressCalls.size(), 2u);
            for (size_t i = 1; i < doc.host.progressCalls.size(); ++i)
                EXPECT_LE(Fraction(doc.host.progressCalls[i - 1]), Fraction(doc.host.progressCalls[i]));
            EXPECT_EQ(doc.host.bufferNews, doc.host.bufferDisposes);
        }
    }
}

// The watch ends with its render: after a watched render the host aborted, the same filter
// renders again unwatched (as a host's next call or a plain render does) to the plain bits,
// without asking the host's progress or abort procedures and with its caller working; and a
// second watched render is not answered by the first one's abort.
TEST(RenderWatch, AnAbortedRenderLeavesNothingForTheNext) {
    for (Engine engine : {Engine::OutOfFocus, Engine::DepthOfField}) {
        SCOPED_TRACE(Name(engine));
        Document plain(engine, 1);
        ASSERT_EQ(plain.filter.Render(&plain.host.rec), 0);
        const std::vector<uint8_t> expected = plain.host.out;

        Document doc(engine, 3);
        doc.filter.watchIntervalMs = 0;
        abortRule = AbortRule{1, 0.0};
        doc.host.rec.abortProc = AbortByRule;
        ASSERT_EQ(doc.filter.RenderWatched(&doc.host.rec), int16_t(userCanceledErr));
        const size_t asked = doc.host.progressCalls.size();
        const int aborts = doc.host.abortCalls;
        EXPECT_EQ(doc.filter.ReportProgress(1, 2), doc.filter.StatusOk());
        std::fill(doc.host.out.begin(), doc.host.out.end(), uint8_t(0));
        ASSERT_EQ(doc.filter.Render(&doc.host.rec), 0);
        EXPECT_EQ(doc.host.out, expected) << "plain render after the aborted one";
        EXPECT_FALSE(doc.filter.threadPool.CallerWaits());
        EXPECT_EQ(doc.host.progressCalls.size(), asked);
        EXPECT_EQ(doc.host.abortCalls, aborts);

        // A host that no longer aborts: the next watched render completes.
        doc.host.rec.abortProc = [] { return Boolean(0); };
        std::fill(doc.host.out.begin(), doc.host.out.end(), uint8_t(0));
        ASSERT_EQ(doc.filter.RenderWatched(&doc.host.rec), 0);
        EXPECT_EQ(doc.host.out, expected) << "watched render after the aborted one";
        EXPECT_GT(doc.host.progressCalls.size(), asked);
        EXPECT_EQ(doc.host.bufferNews, doc.host.bufferDisposes);
    }
}
