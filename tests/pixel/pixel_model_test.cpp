// sizes, addressing, traits and channel access over every format.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pixel/colour.h"
#include "pixel/formats.h"
#include "test_support.h"

using namespace ov;

namespace {

template <class P>
typename P::sample_type sample_value(int i) {
    // Distinct, in-range values per sample index.
    return static_cast<typename P::sample_type>(P::max_value * (i + 1) / 8.0);
}

// ---- host formats: the 18 formats, B = 1 -------------------------------------------------

template <class P>
class HostFormatTest : public ::testing::Test {};
using HostTypes = pel_test::ToGTest<HostPixelTypes>::type;
TYPED_TEST_SUITE(HostFormatTest, HostTypes);

TYPED_TEST(HostFormatTest, PackedSizeIsTheSamples) {
    using P = TypeParam;
    using T = typename P::sample_type;
    EXPECT_EQ(sizeof(P), sizeof(T) * (P::colour_count + (P::has_alpha ? 1 : 0)));
    EXPECT_EQ(P::sample_count, P::base_count);
    EXPECT_EQ(P::max_value, double(P::max_int));
    if constexpr (std::is_same_v<T, unsigned char>) {
        EXPECT_EQ(P::max_int, 255);
        EXPECT_EQ(P::inverse_max, 0.00392156862745098);
    } else if constexpr (std::is_same_v<T, unsigned short>) {
        EXPECT_EQ(P::max_int, 32768);
        EXPECT_EQ(P::inverse_max, 3.0517578125e-5);
    } else {
        EXPECT_EQ(P::max_int, 1);
        EXPECT_EQ(P::inverse_max, 1.0);
    }
}

// A host view whose pixelBytes is larger than the packed pixel (more planes than the layout
// uses) and whose rows carry padding: every pixel is addressed by pixelBytes and rowBytes,
// and the extra bytes are never touched through the view.
TYPED_TEST(HostFormatTest, AddressingWithWidePixels) {
    using P = TypeParam;
    using T = typename P::sample_type;
    using View = HostView<P>;
    const uint32_t W = 5, H = 3;
    const int32_t pixelBytes = int32_t(sizeof(P) + 2 * sizeof(T));
    const int32_t rowBytes = int32_t(W * pixelBytes + 4 * sizeof(T));
    std::vector<T> storage((rowBytes * H) / sizeof(T) + 1);
    auto* bytes = reinterpret_cast<unsigned char*>(storage.data());
    std::memset(bytes, 0xA5, rowBytes * H);
    View v(bytes, W, H, rowBytes, 0, 0, false, 1.0, 1.0, 1.0, true, pixelBytes);
    EXPECT_EQ(v.step(), pixelBytes);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            P& p = v.at(x, y);
            EXPECT_EQ(reinterpret_cast<unsigned char*>(&p), bytes + y * rowBytes + x * pixelBytes);
            for (int i = 0; i < P::sample_count; ++i) p.v[i] = sample_value<P>(i);
        }
    for (uint32_t y = 0; y < H; ++y) {
        for (int32_t b = 0; b < rowBytes; ++b) {
            const int32_t inPixel = b % pixelBytes;
            const bool used = b < int32_t(W) * pixelBytes && inPixel < int32_t(sizeof(P));
            if (!used) { EXPECT_EQ(bytes[y * rowBytes + b], 0xA5) << "byte " << b << " of row " << y; }
        }
        for (uint32_t x = 0; x < W; ++x) {
            const P* p = v.in_row(v.row_bytes(y), x);
            for (int i = 0; i < P::sample_count; ++i) EXPECT_EQ(p->v[i], sample_value<P>(i));
        }
    }
}

TYPED_TEST(HostFormatTest, NegativeRowBytesAndLargeOffsets) {
    using P = TypeParam;
    using View = HostView<P>;
    // Bottom-up rows: rowBytes negative, data at the last row.
    std::vector<P> px(6);
    View v(&px[3], 3, 2, -int32_t(3 * sizeof(P)), 0, 0, false, 1.0, 1.0, 1.0, true, int32_t(sizeof(P)));
    EXPECT_EQ(v.pixel(1, 1), &px[1]);
    // Offsets are formed in 64 bits: a row index whose 32-bit product would overflow.
    View big(nullptr, 70000, 70000, 70000 * 16, 0, 0, false, 1.0, 1.0, 1.0, true, 16);
    const std::ptrdiff_t expected = std::ptrdiff_t(69999) * 70000 * 16 + std::ptrdiff_t(69999) * 16;
    EXPECT_EQ(reinterpret_cast<unsigned char*>(big.pixel(69999, 69999)) - big.data, expected);
}

TYPED_TEST(HostFormatTest, ChannelAccessWithAbsentChannelsAndAlpha) {
    using P = TypeParam;
    using T = typename P::sample_type;
    P p{};
    for (int i = 0; i < P::sample_count; ++i) p.v[i] = sample_value<P>(i);
    for (int c = 0; c < 3; ++c) {
        if (c < P::colour_count) { EXPECT_EQ(p.colour(c), sample_value<P>(c)); }
        else { EXPECT_EQ(p.colour(c), T(0)); }
    }
    P before = p;
    p.set_colour(2, T(1));
    if (P::colour_count < 3) { EXPECT_EQ(std::memcmp(&p, &before, sizeof(P)), 0); }
    if constexpr (P::has_alpha) {
        EXPECT_EQ(get_alpha(p), sample_value<P>(P::alpha_index));
        set_alpha(p, T(0));
        EXPECT_EQ(p.v[P::alpha_index], T(0));
    } else {
        // An absent alpha reads MAX and ignores writes; in Layout2ChannelPixel<0> sample 0 is
        // colour, never alpha.
        EXPECT_EQ(get_alpha(p), T(P::max_int));
        before = p;
        set_alpha(p, T(0));
        EXPECT_EQ(std::memcmp(&p, &before, sizeof(P)), 0);
    }
    set_sample(p, T(3));
    EXPECT_EQ(get_sample(p), T(3));
}

TYPED_TEST(HostFormatTest, LuminanceOfFullAndTransparentPixels) {
    using P = TypeParam;
    DoublePixel<P> d{};
    for (int i = 0; i < P::colour_count; ++i) d.v[i] = P::max_value;
    d.set_alpha(P::max_value);
    const double weights = P::colour_count == 3 ? 0.292687786 + 0.552149646 + 0.155162568
                           : P::colour_count == 2 ? 0.292687786 + 0.552149646 : 1.0;
    EXPECT_NEAR(luminance(d), weights * P::max_value, 1e-9 * P::max_value);
    // The integer pixel gives the same as its double pixel.
    P p{};
    for (int i = 0; i < P::sample_count; ++i) p.v[i] = typename P::sample_type(P::max_int);
    EXPECT_EQ(luminance(p), luminance(d));
    if constexpr (P::has_alpha) {
        d.set_alpha(0.0);
        EXPECT_EQ(luminance(d), 0.0);
        d.set_alpha(P::max_value / 2);
        EXPECT_NEAR(luminance(d), weights * P::max_value / 2, 1e-9 * P::max_value);
    }
}

TYPED_TEST(HostFormatTest, DispatchReachesEveryFormat) {
    using P = TypeParam;
    int hits = 0;
    for (int f = 0; f < kHostFormatCount; ++f) {
        dispatch_host_format(HostFormat(f), [&](auto tag) {
            using V = typename decltype(tag)::type;
            if (std::is_same_v<typename V::pixel_type, P>) ++hits;
            EXPECT_EQ(V::b_flag, 1);
        });
    }
    EXPECT_EQ(hits, 1);
}

// ---- work formats: packed, B = 0 ----------------------------------------------------------

template <class P>
class WorkFormatTest : public ::testing::Test {};
using WorkTypes = ::testing::Types<PxWorkGrayA_F1, PxWorkGray_F1, PxWorkTwoChA_F1, PxWorkTwoCh_F1,
                                   PxWorkRGBA_F1, PxWorkRGB_F1, PxWorkGrayA_F255, PxWorkGray_F255,
                                   PxWorkTwoChA_F255, PxWorkTwoCh_F255, PxWorkRGBA_F255, PxWorkRGB_F255,
                                   PxWorkGrayA_F32768, PxWorkGray_F32768, PxWorkTwoChA_F32768,
                                   PxWorkTwoCh_F32768, PxWorkRGBA_F32768, PxWorkRGB_F32768,
                                   PxWeightedGrayA_F1, PxWeightedGray_F1, PxWeightedTwoChA_F1,
                                   PxWeightedTwoCh_F1, PxWeightedRGBA_F1, PxWeightedRGB_F1,
                                   PxRefractInfo, PxPackedGray_U8, PxPackedGray_U16>;
TYPED_TEST_SUITE(WorkFormatTest, WorkTypes);

TYPED_TEST(WorkFormatTest, PackedViewAddressing) {
    using P = TypeParam;
    using T = typename P::sample_type;
    EXPECT_EQ(sizeof(P), sizeof(T) * P::sample_count);
    std::vector<P> buffer(4 * 3);
    // pixelBytes is ignored by packed views: the step is sizeof(P).
    WorkView<P> v(buffer.data(), 4, 3, int32_t(4 * sizeof(P)), 0, 0, true, 2.0, 1.0, 1.0, true, 999);
    EXPECT_EQ(v.step(), std::ptrdiff_t(sizeof(P)));
    EXPECT_EQ(v.row(2), &buffer[8]);
    EXPECT_EQ(v.pixel(3, 1), &buffer[7]);
    EXPECT_EQ(v.packed_row_bytes(), std::ptrdiff_t(4 * sizeof(P)));
    auto copy = v;  // a plain value: copying never copies pixels
    EXPECT_EQ(copy.data, v.data);
    EXPECT_EQ(copy.premultiplied, 1);
    EXPECT_EQ(copy.scale, 2.0);
    if constexpr (P::extra_count > 0) {
        P p{};
        p.extra(P::extra_count - 1) = T(7);
        EXPECT_EQ(p.v[P::sample_count - 1], T(7));
    }
}

TEST(PixelArray, EmptyViewAndConstructorOrder) {
    ImgHostRGBA_U8 empty;
    EXPECT_FALSE(empty.has_data());
    EXPECT_EQ(empty.width, 0u);
    EXPECT_EQ(empty.scale, 1.0);
    EXPECT_EQ(empty.scaleX, 1.0);
    EXPECT_EQ(empty.valid, 0);
    unsigned char byte = 0;
    ImgMask8 m(&byte, 1, 2, 3, -4, 5, true, 0.5, 0.25, 0.125, false, 1);
    EXPECT_EQ(m.width, 1u);
    EXPECT_EQ(m.height, 2u);
    EXPECT_EQ(m.rowBytes, 3);
    EXPECT_EQ(m.originX, -4);
    EXPECT_EQ(m.originY, 5);
    EXPECT_EQ(m.premultiplied, 1);
    EXPECT_EQ(m.scale, 0.5);
    EXPECT_EQ(m.scaleX, 0.25);
    EXPECT_EQ(m.scaleY, 0.125);
    EXPECT_EQ(m.valid, 0);
    EXPECT_EQ(m.pixelBytes, 1);
    EXPECT_EQ(m.data, &byte);
}

TEST(PixelRGB, ChannelOfFloatPixels) {
    PxHostTwoCh_F1 two{{0.25f, 0.5f}};
    EXPECT_EQ(channel(two, 0), 1.0f);  // no alpha: channel 0 is 1.0, not sample 0
    EXPECT_EQ(channel(two, 1), 0.25f);
    EXPECT_EQ(channel(two, 2), 0.5f);
    EXPECT_EQ(channel(two, 3), 0.0f);
    PxHostRGBA_F1 rgba{{0.1f, 0.2f, 0.3f, 0.4f}};
    EXPECT_EQ(channel(rgba, 0), 0.4f);
    EXPECT_EQ(channel(rgba, 3), 0.3f);
    EXPECT_EQ(channel(rgba, 4), 0.3f);  // beyond: the third colour
    PxHostRGB_F1 rgb{{0.1f, 0.2f, 0.3f}};
    EXPECT_EQ(channel(rgb, 0), 1.0f);
    EXPECT_EQ(channel(rgb, 1), 0.1f);
}

TEST(PixelRGB, SixteenBitRange) {
    PxHostGray_U16 p{{32768}};
    EXPECT_EQ(double(p.v[0]), PxHostGray_U16::max_value);  // 32768 is full intensity
    p.v[0] = 65535;  // representable, above MAX
    EXPECT_GT(double(p.v[0]), PxHostGray_U16::max_value);
}

TEST(Formats, MappingTemplates) {
    static_assert(std::is_same_v<WorkPixelOf<PxHostTwoCh_U8>, PxWorkTwoCh_F255>);
    static_assert(std::is_same_v<WorkPixelOf<PxHostRGB_U16>, PxWorkRGB_F32768>);
    static_assert(std::is_same_v<WorkPixelOf<PxHostGrayA_F1, 1>, PxWeightedGrayA_F1>);
    static_assert(std::is_same_v<PackedGrayOf<PxHostRGBA_U8>, PxPackedGray_U8>);
    static_assert(std::is_same_v<typename ImgMask8::pixel_type, PxPackedGray_U8>);
    EXPECT_STREQ(host_format_name(HostFormat::TwoChA_U16), "TwoChA_U16");
}

}  // namespace
