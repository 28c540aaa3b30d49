// copy-convert. One table-driven test runs the same case rows through all 54
// pairs (same-format, work-to-host, gray) and compares every written sample with a scalar
// reference model of the documented steps; a second table holds worked examples.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "pixel/copy_image_filter.h"
#include "test_support.h"

using namespace ov;
using pel_test::RecordingHost;

namespace {

enum class Kind { Same, WorkToHost, Gray };
using Row = std::array<double, 4>;  // c0, c1, c2, alpha as raw sample values

struct RunResult {
    std::vector<std::vector<double>> source;  // the samples really stored, per pixel
    std::vector<std::vector<double>> dest;    // the samples written, per pixel (row 0)
    bool rowsEqual = true;                    // row 1 equals row 0
    bool paddingIntact = true;
};

struct Pair {
    std::string name;
    Kind kind;
    int srcColours, dstColours;
    bool srcAlpha, dstAlpha, srcFloat, dstInteger;
    double max;
    double dstTypeMax;
    std::function<RunResult(const std::vector<Row>&, bool srcPremul, bool dstFlag, uint32_t mode)> run;
};

template <class T>
T to_sample(double v) {
    if constexpr (std::is_integral_v<T>) {
        if (!(v >= 0)) return T(0);
        if (v >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
        return T(std::floor(v));
    } else {
        return T(v);
    }
}

constexpr unsigned char kSentinel = 0xCD;

template <class Src, class Dst>
Pair make_pair_runner(std::string name, Kind kind) {
    using SP = typename Src::pixel_type;
    using DP = typename Dst::pixel_type;
    using ST = typename SP::sample_type;
    using DT = typename DP::sample_type;
    Pair p;
    p.name = std::move(name);
    p.kind = kind;
    p.srcColours = SP::colour_count;
    p.dstColours = DP::colour_count;
    p.srcAlpha = SP::has_alpha;
    p.dstAlpha = DP::has_alpha;
    p.srcFloat = std::is_floating_point_v<ST>;
    p.dstInteger = DP::is_integer;
    p.max = SP::max_value;
    p.dstTypeMax = std::is_integral_v<DT> ? double(std::numeric_limits<DT>::max()) : 0.0;
    p.run = [](const std::vector<Row>& rows, bool srcPremul, bool dstFlag, uint32_t mode) {
        RunResult result;
        const uint32_t W = uint32_t(rows.size()), H = 2;
        // Host views get pixels wider than the layout (one spare sample) and padded rows.
        const int32_t sStep = int32_t(sizeof(SP) + (Src::b_flag ? sizeof(ST) : 0));
        const int32_t dStep = int32_t(sizeof(DP) + (Dst::b_flag ? sizeof(DT) : 0));
        const int32_t sRow = int32_t(W * sStep + 8), dRow = int32_t(W * dStep + 8);
        std::vector<double> sStore((sRow * H) / 8 + 2), dStore((dRow * H) / 8 + 2);
        auto* sb = reinterpret_cast<unsigned char*>(sStore.data());
        auto* db = reinterpret_cast<unsigned char*>(dStore.data());
        std::memset(sb, kSentinel, sRow * H);
        std::memset(db, kSentinel, dRow * H);
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                SP& px = *reinterpret_cast<SP*>(sb + y * sRow + x * sStep);
                for (int c = 0; c < SP::colour_count; ++c) px.v[c] = to_sample<ST>(rows[x][c]);
                if constexpr (SP::has_alpha) px.v[SP::alpha_index] = to_sample<ST>(rows[x][3]);
            }
        for (uint32_t x = 0; x < W; ++x) {
            const SP& px = *reinterpret_cast<const SP*>(sb + x * sStep);
            result.source.emplace_back(px.v, px.v + SP::sample_count);
        }
        Src src(sb, W, H, sRow, 0, 0, srcPremul, 1.0, 1.0, 1.0, true, sStep);
        Dst dst(db, W, H, dRow, 0, 0, dstFlag, 1.0, 1.0, 1.0, true, dStep);
        RecordingHost host(2);
        CopyImageFilter<Src, Dst> filter(&host, src, dst, 0, 0, mode);
        EXPECT_EQ(filter.render(0, 1), 0u);
        EXPECT_EQ(dst.premultiplied, dstFlag ? 1 : 0);  // the caller's view is untouched
        for (uint32_t x = 0; x < W; ++x) {
            const DP& px = *reinterpret_cast<const DP*>(db + x * dStep);
            const DP& px1 = *reinterpret_cast<const DP*>(db + dRow + x * dStep);
            result.dest.emplace_back();
            for (int i = 0; i < DP::sample_count; ++i) {
                result.dest.back().push_back(double(px.v[i]));
                if (std::memcmp(&px.v[i], &px1.v[i], sizeof(DT)) != 0) result.rowsEqual = false;
            }
        }
        for (uint32_t y = 0; y < H; ++y)
            for (int32_t b = 0; b < dRow; ++b) {
                const bool used = b < int32_t(W) * dStep && b % dStep < int32_t(sizeof(DP));
                if (!used && db[y * dRow + b] != kSentinel) result.paddingIntact = false;
            }
        return result;
    };
    return p;
}

std::vector<Pair> all_pairs() {
    std::vector<Pair> pairs;
#define PEL_ADD_SAME(F, H, W) \
    pairs.push_back(make_pair_runner<ImgHost##F##_##H, ImgHost##F##_##H>("same " #F "_" #H, Kind::Same));
#define PEL_ADD_W2H(F, H, W) \
    pairs.push_back(make_pair_runner<ImgWork##F##_##W, ImgHost##F##_##H>("work-to-host " #F "_" #H, Kind::WorkToHost));
#define PEL_ADD_GRAY(F, H, W)                                                                     \
    pairs.push_back(make_pair_runner<ImgHost##F##_##H, WorkView<PackedGrayOf<PxHost##F##_##H>>>( \
        "gray " #F "_" #H, Kind::Gray));
    PEL_FOR_EACH_HOST_FORMAT(PEL_ADD_SAME)
    PEL_FOR_EACH_HOST_FORMAT(PEL_ADD_W2H)
    PEL_FOR_EACH_HOST_FORMAT(PEL_ADD_GRAY)
#undef PEL_ADD_SAME
#undef PEL_ADD_W2H
#undef PEL_ADD_GRAY
    return pairs;
}

// The row worker's steps, written out plainly for one pixel.
std::vector<double> reference(const Pair& p, const std::vector<double>& s, bool srcPremul, bool dstFlag,
                              uint32_t mode) {
    const double MAX = p.max, invMax = 1.0 / MAX;
    std::vector<double> v = s;
    if (p.kind == Kind::WorkToHost && p.dstInteger)
        for (double& x : v) x = !(x >= 0) ? 0.0 : (x > MAX ? MAX : x);
    const double a = p.srcAlpha ? v[p.srcColours] : MAX;
    std::vector<double> c;
    if (p.kind == Kind::Gray && p.srcColours > 1) {
        double g = 0.292687786 * v[0] + 0.552149646 * v[1];
        if (p.srcColours == 3) g = g + 0.155162568 * v[2];
        if (p.srcAlpha) g = g * (a * invMax);
        c.push_back(g);
    } else {
        c.assign(v.begin(), v.begin() + p.dstColours);
    }
    const bool dstPremul = mode == 0 ? srcPremul : mode == 1 ? true : mode == 2 ? false : dstFlag;
    if (srcPremul && !dstPremul) {
        if (a > 0)
            for (double& x : c) {
                x = x * (MAX / a);
                if (p.dstInteger && x > MAX) x = MAX;  // the mended clamp
            }
    } else if (!srcPremul && dstPremul) {
        for (double& x : c) x = x * (a * invMax);
    }
    std::vector<double> out;
    auto store = [&](double x) {
        if (p.dstInteger) {
            if (!(x >= 0)) return 0.0;
            if (x > p.dstTypeMax) return p.dstTypeMax;
            return std::trunc(x);
        }
        return double(float(x));
    };
    for (double x : c) out.push_back(store(x));
    if (p.dstAlpha) out.push_back(store(a));
    return out;
}

std::vector<Row> case_rows(const Pair& p) {
    const double M = p.max;
    std::vector<Row> rows = {
        {0, 0, 0, 0},
        {M, M, M, M},
        {0.5 * M, 0.25 * M, 0.75 * M, 0.5 * M},
        {0.8 * M, 0.3 * M, 0.1 * M, 0},
        {0.999 * M, 0.001 * M, 0.5 * M, 0.9 * M},
        {0.3 * M, 0.9 * M, 0.6 * M, 0.2 * M},  // premultiplied colour above alpha
        {M, M, M, 0.502 * M},
    };
    if (p.srcFloat) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        rows.push_back({-3.0, nan, 254.7 / 255 * M, 300.0 / 255 * M});
        rows.push_back({1.5 * M, -0.25 * M, 40000.0 / 32768 * M, -1.0});
        rows.push_back({nan, 2.0 * M, 0.5 * M, nan});
    } else if (M == 32768) {
        rows.push_back({40000, 65535, 32767, 32768});  // above MAX, representable
    }
    return rows;
}

TEST(CopyImage, AllFiftyFourPairsAgainstTheReference) {
    const auto pairs = all_pairs();
    ASSERT_EQ(pairs.size(), 54u);
    struct Setting { bool srcPremul; bool dstFlag; uint32_t mode; };
    const Setting settings[] = {
        {false, false, 0}, {true, false, 0}, {false, false, 1}, {true, false, 1}, {false, true, 2},
        {true, true, 2},   {false, true, 7}, {true, false, 7},  {true, true, 7},
    };
    for (const Pair& p : pairs) {
        const auto rows = case_rows(p);
        for (const Setting& st : settings) {
            const RunResult r = p.run(rows, st.srcPremul, st.dstFlag, st.mode);
            EXPECT_TRUE(r.paddingIntact) << p.name;
            EXPECT_TRUE(r.rowsEqual) << p.name;
            for (size_t x = 0; x < rows.size(); ++x) {
                const auto expect = reference(p, r.source[x], st.srcPremul, st.dstFlag, st.mode);
                ASSERT_EQ(r.dest[x].size(), expect.size()) << p.name;
                for (size_t i = 0; i < expect.size(); ++i) {
                    const double got = r.dest[x][i], want = expect[i];
                    const bool same = (std::isnan(got) && std::isnan(want)) || got == want;
                    EXPECT_TRUE(same) << p.name << " pixel " << x << " sample " << i << " mode " << st.mode
                                      << " srcPremul " << st.srcPremul << ": got " << got << ", want " << want;
                }
                // Same-format pairs with mode 0 reproduce the source exactly.
                if (p.kind == Kind::Same && st.mode == 0) {
                    for (size_t i = 0; i < expect.size(); ++i) {
                        EXPECT_TRUE(r.dest[x][i] == r.source[x][i] ||
                                    (std::isnan(r.dest[x][i]) && std::isnan(r.source[x][i])))
                            << p.name;
                    }
                }
            }
        }
    }
}

// Worked examples: a pair, its source pixels, a mode and the expected samples.
TEST(CopyImage, WorkedExamples) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Example {
        const char* what;
        Pair pair;
        Row src;
        bool srcPremul;
        uint32_t mode;
        std::vector<double> expect;
    };
    const Example examples[] = {
        {"work to 8-bit clamps and truncates", make_pair_runner<ImgWorkRGBA_F255, ImgHostRGBA_U8>("", Kind::WorkToHost),
         {-3.0, nan, 254.7, 300.0}, false, 0, {0, 0, 254, 255}},
        {"work to 16-bit: 40000 becomes 32768", make_pair_runner<ImgWorkGray_F32768, ImgHostGray_U16>("", Kind::WorkToHost),
         {40000.0, 0, 0, 0}, false, 0, {32768}},
        {"work to float is not clamped", make_pair_runner<ImgWorkRGB_F1, ImgHostRGB_F1>("", Kind::WorkToHost),
         {-0.5, 2.0, 0.25, 0}, false, 0, {-0.5, 2.0, 0.25}},
        {"gray of opaque RGB white", make_pair_runner<ImgHostRGBA_U8, ImgPackedGray_U8>("", Kind::Gray),
         {255, 255, 255, 255}, false, 0, {255}},
        {"gray of opaque two-colour white", make_pair_runner<ImgHostTwoCh_U8, ImgPackedGray_U8>("", Kind::Gray),
         {255, 255, 0, 0}, false, 0, {215}},
        {"gray of a transparent colour pixel", make_pair_runner<ImgHostTwoChA_U16, ImgPackedGray_U16>("", Kind::Gray),
         {30000, 30000, 0, 0}, false, 0, {0}},
        {"gray of gray with alpha keeps gray", make_pair_runner<ImgHostGrayA_U8, ImgPackedGray_U8>("", Kind::Gray),
         {77, 0, 0, 3}, false, 0, {77}},
        {"mode 1 premultiplies 200 by 128/255", make_pair_runner<ImgHostRGBA_U8, ImgHostRGBA_U8>("", Kind::Same),
         {200, 200, 200, 128}, false, 1, {100, 100, 100, 128}},
        {"mode 2 with alpha 0 keeps colour", make_pair_runner<ImgHostRGBA_U8, ImgHostRGBA_U8>("", Kind::Same),
         {200, 10, 0, 0}, true, 2, {200, 10, 0, 0}},
        {"mended: straight colour above MAX is clamped", make_pair_runner<ImgHostRGBA_U8, ImgHostRGBA_U8>("", Kind::Same),
         {200, 50, 0, 100}, true, 2, {255, 127, 0, 100}},
        {"mended: 16-bit straight colour clamped", make_pair_runner<ImgHostGrayA_U16, ImgHostGrayA_U16>("", Kind::Same),
         {30000, 0, 0, 1000}, true, 2, {32768, 1000}},
        {"same float keeps out-of-range samples", make_pair_runner<ImgHostRGBA_F1, ImgHostRGBA_F1>("", Kind::Same),
         {-0.5, 7.0, 1e-30, 3.0}, true, 0, {-0.5, 7.0, float(1e-30), 3.0}},
    };
    for (const Example& e : examples) {
        const RunResult r = e.pair.run({e.src}, e.srcPremul, false, e.mode);
        ASSERT_EQ(r.dest[0].size(), e.expect.size()) << e.what;
        for (size_t i = 0; i < e.expect.size(); ++i) EXPECT_EQ(r.dest[0][i], e.expect[i]) << e.what << " sample " << i;
        EXPECT_TRUE(r.paddingIntact) << e.what;
    }
}

TEST(CopyImage, ProgressAndEmptyShapes) {
    std::vector<PxWorkRGBA_F255> work(3 * 100, PxWorkRGBA_F255{{1, 2, 3, 4}});
    std::vector<PxHostRGBA_U8> host8(3 * 100);
    auto src = make_packed_view<ImgWorkRGBA_F255>(work.data(), 3, 100);
    ImgHostRGBA_U8 dst(host8.data(), 3, 100, 12, 0, 0, false, 1.0, 1.0, 1.0, true, 4);
    {
        RecordingHost host(4);
        CopyImageFilter<ImgWorkRGBA_F255, ImgHostRGBA_U8> f(&host, src, dst, 0, 0, 0);
        EXPECT_EQ(f.render(2, 3), 0u);
        pel_test::expect_row_progress(host, 2, 3, 100);
        EXPECT_EQ(host8[299].v[3], 4);
    }
    {
        RecordingHost host(4);  // height 0: no work items, nothing written, no progress
        ImgHostRGBA_U8 none = dst;
        none.height = 0;
        CopyImageFilter<ImgWorkRGBA_F255, ImgHostRGBA_U8> f(&host, src, none, 0, 0, 0);
        EXPECT_EQ(f.render(0, 1), 0u);
        EXPECT_TRUE(host.sorted_calls().empty());
    }
    {
        RecordingHost host(4);  // width 0: nothing written, still one report per row
        ImgHostRGBA_U8 narrow = dst;
        narrow.width = 0;
        CopyImageFilter<ImgWorkRGBA_F255, ImgHostRGBA_U8> f(&host, src, narrow, 0, 0, 0);
        EXPECT_EQ(f.render(0, 1), 0u);
        pel_test::expect_row_progress(host, 0, 1, 100);
    }
    {
        RecordingHost host(4);  // no data: StatusOk, nothing written, nothing reported
        ImgWorkRGBA_F255 empty = src;
        empty.data = nullptr;
        std::fill(host8.begin(), host8.end(), PxHostRGBA_U8{{9, 9, 9, 9}});
        CopyImageFilter<ImgWorkRGBA_F255, ImgHostRGBA_U8> f(&host, empty, dst, 0, 0, 0);
        EXPECT_EQ(f.render(0, 1), 0u);
        EXPECT_TRUE(host.sorted_calls().empty());
        EXPECT_EQ(host8[0].v[0], 9);
    }
}

TEST(CopyImage, OffsetsReadOpaqueBlackOutside) {
    std::vector<PxHostRGBA_U16> s(4 * 3);
    for (size_t i = 0; i < s.size(); ++i) s[i] = PxHostRGBA_U16{{uint16_t(i), uint16_t(i + 100), 0, 500}};
    std::vector<PxHostRGBA_U16> d(4 * 3);
    ImgHostRGBA_U16 src(s.data(), 4, 3, 32, 0, 0, false, 1.0, 1.0, 1.0, true, 8);
    ImgHostRGBA_U16 dst(d.data(), 4, 3, 32, 0, 0, false, 1.0, 1.0, 1.0, true, 8);
    RecordingHost host(2);
    CopyImageFilter<ImgHostRGBA_U16, ImgHostRGBA_U16> f(&host, src, dst, 1, -1, 0);
    EXPECT_EQ(f.render(0, 1), 0u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const int sx = x + 1, sy = y - 1;
            const bool inside = sx < 4 && sy >= 0;
            const PxHostRGBA_U16& p = d[y * 4 + x];
            if (inside) {
                EXPECT_EQ(p.v[0], s[sy * 4 + sx].v[0]);
                EXPECT_EQ(p.v[3], 500);
            } else {
                EXPECT_EQ(p.v[0], 0);
                EXPECT_EQ(p.v[1], 0);
                EXPECT_EQ(p.v[3], 32768);
            }
        }
    // Far-away offsets read nothing from the source.
    CopyImageFilter<ImgHostRGBA_U16, ImgHostRGBA_U16> far(&host, src, dst, INT32_MAX, INT32_MIN, 0);
    EXPECT_EQ(far.render(0, 1), 0u);
    EXPECT_EQ(d[5].v[3], 32768);
}

TEST(CopyImage, HostToWorkRoundTrip) {
    std::vector<PxHostTwoChA_U8> s(5 * 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = PxHostTwoChA_U8{{uint8_t(i * 20), uint8_t(255 - i), uint8_t(i * 25)}};
    std::vector<PxWorkTwoChA_F255> w(5 * 2);
    std::vector<PxHostTwoChA_U8> back(5 * 2);
    ImgHostTwoChA_U8 src(s.data(), 5, 2, 15, 0, 0, false, 1.0, 1.0, 1.0, true, 3);
    ImgHostTwoChA_U8 dst(back.data(), 5, 2, 15, 0, 0, false, 1.0, 1.0, 1.0, true, 3);
    auto work = make_packed_view<ImgWorkTwoChA_F255>(w.data(), 5, 2);
    RecordingHost host(3);
    CopyImageFilter<ImgHostTwoChA_U8, ImgWorkTwoChA_F255> in(&host, src, work, 0, 0, 0);
    EXPECT_EQ(in.render(0, 2), 0u);
    CopyImageFilter<ImgWorkTwoChA_F255, ImgHostTwoChA_U8> out(&host, work, dst, 0, 0, 0);
    EXPECT_EQ(out.render(1, 2), 0u);
    for (size_t i = 0; i < s.size(); ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(back[i].v[k], s[i].v[k]);
}

}  // namespace
