// Every allocation failing in turn and every progress report refused in turn: the render
// ends with the host's out-of-memory status or with StatusCancelled, and nothing leaks.
#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

#include "oof_test_support.h"
#include "outoffocus/out_of_focus_effect.h"
#include "outoffocus/out_of_focus_filter.h"

using namespace ov;
using namespace oof_test;

namespace {

void everyFailure(const char* what, const std::function<uint32_t(TestHost&)>& run) {
    TestHost host(3);
    ASSERT_EQ(run(host), host.StatusOk()) << what;
    const uint64_t allocations = host.allocations, reports = host.reports;
    EXPECT_GT(reports, 0u) << what;
    EXPECT_EQ(host.badReports.load(), 0u) << what << ": a report with done above total";
    EXPECT_EQ(host.liveBlocks(), 0u) << what;
    for (uint64_t k = 1; k <= allocations; ++k) {
        host.reset();
        host.failAllocation = k;
        EXPECT_EQ(run(host), kHostOutOfMemory) << what << ": allocation " << k << " of " << allocations;
        EXPECT_EQ(host.liveBlocks(), 0u) << what << ": allocation " << k;
    }
    for (uint64_t k = 1; k <= reports; ++k) {
        host.reset();
        host.refuseReport = k;
        EXPECT_EQ(run(host), host.StatusCancelled()) << what << ": report " << k << " of " << reports;
        EXPECT_EQ(host.liveBlocks(), 0u) << what << ": report " << k;
    }
    EXPECT_EQ(host.doubleFrees, 0) << what;
}

TEST(OutOfFocusFailures, FilterGrayKernel) {
    Image<ImgHostRGBA_U8> src(9, 7), dst(9, 7);
    fillRandom(src, 1);
    OutOfFocusParams p = defaultParams(2.0);
    p.highlight_selection.lightnessLow = 0.3;  // some highlights
    p.iris_softness = 20.0;                    // the softening's own buffer too
    everyFailure("gray kernel", [&](TestHost& host) { return runFilter(host, src, dst, p); });
}

TEST(OutOfFocusFailures, FilterColourKernel) {
    Image<ImgHostRGBA_F1> src(8, 6), dst(8, 6);
    fillRandom(src, 2);
    Image<ImgMask8> iris(5, 5);
    fillRandom(iris, 3);
    OutOfFocusParams p = defaultParams(2.0);
    p.keep_color = 1;
    everyFailure("colour kernel", [&](TestHost& host) {
        return runFilter<ImgHostRGBA_F1, 1>(host, src, dst, p, nullptr, iris.view());
    });
}

TEST(OutOfFocusFailures, FilterKernelWithoutWeightCopies) {
    Image<ImgHostGray_U16> src(6, 5), dst(6, 5);
    fillRandom(src, 4);
    Image<ImgMask8> iris(4, 4);
    iris.fill(makePixel<PxMask8>(0.0, 255.0));
    everyFailure("zero kernel", [&](TestHost& host) {
        return runFilter(host, src, dst, defaultParams(2.0), nullptr, iris.view());
    });
}

template <class View>
uint32_t runEffect(TestHost& host, Image<View>& src, Image<View>& dst, const OutOfFocusParams& p,
                   std::type_identity_t<Image<View>>* refraction = nullptr) {
    OutOfFocusEffectOf<View> effect(&host);
    effect.source = effect.highlightSource = src.view();
    effect.destination = dst.view();
    if (refraction) effect.refractionImage = refraction->view();
    effect.params = p;
    return effect.render(0, 1);
}

TEST(OutOfFocusFailures, EffectRoads) {
    Image<ImgHostRGBA_U8> src(9, 6), dst(9, 6), refraction(9, 6);
    fillRandom(src, 5);
    fillRandom(refraction, 6);
    OutOfFocusParams p = defaultParams(2.0);
    everyFailure("blur with refraction", [&](TestHost& host) {
        return runEffect(host, src, dst, p, &refraction);
    });
    p.view = 2;
    everyFailure("iris view", [&](TestHost& host) { return runEffect(host, src, dst, p); });
    p.view = 4;
    p.highlight_selection.maskMode = 1;
    everyFailure("selection view", [&](TestHost& host) { return runEffect(host, src, dst, p); });
    p = defaultParams(0.0);
    everyFailure("copy", [&](TestHost& host) { return runEffect(host, src, dst, p, &refraction); });
}

}  // namespace
