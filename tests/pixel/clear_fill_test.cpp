// clear and fill through the parallel run, with the exact progress calls.
#include <gtest/gtest.h>

#include <vector>

#include "pixel/clear_fill_filter.h"
#include "test_support.h"

using namespace ov;
using pel_test::RecordingHost;

namespace {

template <class View>
std::vector<typename View::pixel_type> filled_buffer(uint32_t w, uint32_t h, float value) {
    using P = typename View::pixel_type;
    P p{};
    for (auto& s : p.v) s = value;
    return std::vector<P>(size_t(w) * h, p);
}

template <class V>
class ClearTest : public ::testing::Test {};
using ClearViews = ::testing::Types<ImgWorkGrayA_F1, ImgWorkGray_F255, ImgWorkTwoChA_F32768, ImgWorkTwoCh_F1,
                                    ImgWorkRGBA_F255, ImgWorkRGB_F32768>;
TYPED_TEST_SUITE(ClearTest, ClearViews);

TYPED_TEST(ClearTest, ClearsEverySampleWithRowProgress) {
    using V = TypeParam;
    RecordingHost host(4);
    const uint32_t W = 7, H = 100;
    auto buffer = filled_buffer<V>(W, H, 0.75f);
    V view = make_packed_view<V>(buffer.data(), W, H);
    ClearImageFilter<V> filter(&host, view);
    EXPECT_EQ(filter.render(1, 3), host.StatusOk());
    for (const auto& p : buffer)
        for (float s : p.v) EXPECT_EQ(s, 0.0f);
    pel_test::expect_row_progress(host, 1, 3, H);
}

TEST(Clear, RgbaBecomesTransparentBlackAndPaddingStays) {
    RecordingHost host(3);
    std::vector<PxWorkRGBA_F1> buffer(5 * 4, PxWorkRGBA_F1{{1, 2, 3, 4}});
    // rows of 4 pixels with one pixel of padding
    ImgWorkRGBA_F1 view = make_packed_view<ImgWorkRGBA_F1>(buffer.data(), 4, 4, false, 5 * sizeof(PxWorkRGBA_F1));
    ClearImageFilter<ImgWorkRGBA_F1> filter(&host, view);
    EXPECT_EQ(filter.render(0, 1), 0u);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(buffer[y * 5 + x].v[i], x < 4 ? 0.0f : float(i + 1));
}

TEST(Fill, EveryPixelIsTheFillPixel) {
    RecordingHost host(8);
    const uint32_t W = 9, H = 100;
    std::vector<PxWorkTwoChA_F1> buffer(W * H);
    auto view = make_packed_view<ImgWorkTwoChA_F1>(buffer.data(), W, H);
    const PxWorkTwoChA_F1 fill{{0.0f, 0.0f, 1.0f}};
    FillImageFilter<ImgWorkTwoChA_F1> filter(&host, view, fill);
    EXPECT_EQ(filter.render(1, 3), 0u);
    for (const auto& p : buffer) {
        EXPECT_EQ(p.v[0], 0.0f);
        EXPECT_EQ(p.v[1], 0.0f);
        EXPECT_EQ(p.v[2], 1.0f);
    }
    pel_test::expect_row_progress(host, 1, 3, H);
}

TEST(Fill, AllNineInstancesAtEveryMax) {
    RecordingHost host(2);
    auto check = [&](auto tag, float value) {
        using V = typename decltype(tag)::type;
        using P = typename V::pixel_type;
        std::vector<P> buffer(6 * 5);
        P fill{};
        for (auto& s : fill.v) s = value;
        FillImageFilter<V> f(&host, make_packed_view<V>(buffer.data(), 6, 5), fill);
        EXPECT_EQ(f.render(0, 1), 0u);
        for (const auto& p : buffer)
            for (float s : p.v) EXPECT_EQ(s, value);
    };
    check(TypeTag<ImgWorkGrayA_F1>{}, 1.0f);
    check(TypeTag<ImgWorkTwoChA_F1>{}, 0.5f);
    check(TypeTag<ImgWorkRGBA_F1>{}, 0.25f);
    check(TypeTag<ImgWorkGrayA_F255>{}, 255.0f);
    check(TypeTag<ImgWorkTwoChA_F255>{}, 128.0f);
    check(TypeTag<ImgWorkRGBA_F255>{}, 3.0f);
    check(TypeTag<ImgWorkGrayA_F32768>{}, 32768.0f);
    check(TypeTag<ImgWorkTwoChA_F32768>{}, 1.0f);
    check(TypeTag<ImgWorkRGBA_F32768>{}, 77.0f);
}

TEST(ClearFill, HeightZeroAndWidthZero) {
    RecordingHost host(4);
    std::vector<PxWorkRGBA_F1> buffer(4);
    ClearImageFilter<ImgWorkRGBA_F1> none(&host, make_packed_view<ImgWorkRGBA_F1>(buffer.data(), 4, 0));
    EXPECT_EQ(none.render(0, 1), 0u);
    EXPECT_TRUE(host.sorted_calls().empty());  // no rows, no progress
    FillImageFilter<ImgWorkRGBA_F1> narrow(&host, make_packed_view<ImgWorkRGBA_F1>(buffer.data(), 0, 5, false, 0),
                                           PxWorkRGBA_F1{{1, 1, 1, 1}});
    EXPECT_EQ(narrow.render(2, 4), 0u);
    pel_test::expect_row_progress(host, 2, 4, 5);  // still one report per row
    for (const auto& p : buffer) EXPECT_EQ(p.v[0], 0.0f);
}

TEST(ClearFill, CancelledProgressStopsTheRun) {
    RecordingHost host(1);  // one thread: rows run in order
    host.refuseFrom = 10;
    std::vector<PxWorkGray_F1> buffer(3 * 50, PxWorkGray_F1{{5.0f}});
    ClearImageFilter<ImgWorkGray_F1> filter(&host, make_packed_view<ImgWorkGray_F1>(buffer.data(), 3, 50));
    EXPECT_EQ(filter.render(0, 1), host.StatusCancelled());
    EXPECT_EQ(host.sorted_calls().size(), 11u);  // the thread stops at its first failure
    EXPECT_EQ(buffer[3 * 10].v[0], 0.0f);
    EXPECT_EQ(buffer[3 * 11].v[0], 5.0f);
}

TEST(ClearFill, ViewWithoutDataWritesAndReportsNothing) {
    RecordingHost host(2);
    ImgWorkRGBA_F1 empty;
    empty.width = 4;
    empty.height = 3;
    ClearImageFilter<ImgWorkRGBA_F1> filter(&host, empty);
    EXPECT_EQ(filter.render(0, 1), 0u);
    EXPECT_TRUE(host.sorted_calls().empty());
}

}  // namespace
