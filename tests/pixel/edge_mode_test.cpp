// edge_index and edge_coordinate.
#include <gtest/gtest.h>

#include <climits>

#include "pixel/edge_mode.h"

using namespace ov;

namespace {

// edge_index for n = 4 over -9..9 in every mode (the table; inside unchanged).
TEST(EdgeIndex, TableN4) {
    //                     -9 -8 -7 -6 -5 -4 -3 -2 -1  0  1  2  3  4  5  6  7  8  9
    const int clamp[19]  = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3};
    const int mirror[19] = {0, 0, 1, 2, 3, 3, 2, 1, 0, 0, 1, 2, 3, 3, 2, 1, 0, 0, 1};
    const int wrap[19]   = {3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    for (int i = 0; i < 19; ++i) {
        const int c0 = i - 9;
        const bool inside = c0 >= 0 && c0 < 4;
        struct { int mode; const int* expect; } rows[] = {{1, clamp}, {2, mirror}, {3, wrap}};
        for (auto& row : rows) {
            int32_t c = c0;
            EXPECT_EQ(edge_index(c, 4, row.mode), inside) << "mode " << row.mode << " c " << c0;
            EXPECT_EQ(c, row.expect[i]) << "mode " << row.mode << " c " << c0;
        }
        for (int mode : {0, 4, 5, -1}) {
            int32_t c = c0;
            EXPECT_EQ(edge_index(c, 4, mode), inside);
            EXPECT_EQ(c, c0) << "mode " << mode;  // left outside for the caller
        }
    }
}

TEST(EdgeIndex, TableN1) {
    for (int c0 = -9; c0 <= 9; ++c0)
        for (int mode : {1, 2, 3, 4}) {
            int32_t c = c0;
            EXPECT_EQ(edge_index(c, 1, mode), c0 == 0);
            EXPECT_EQ(c, mode == 4 ? c0 : 0) << "mode " << mode << " c " << c0;
        }
}

TEST(EdgeIndex, ExtremesDoNotOverflow) {
    int32_t c = INT_MIN;
    EXPECT_FALSE(edge_index(c, 7, 2));
    EXPECT_GE(c, 0);
    EXPECT_LT(c, 7);
    c = INT_MIN;
    EXPECT_FALSE(edge_index(c, 7, 3));
    EXPECT_EQ(c, int32_t(((int64_t(INT_MIN) % 7) + 7) % 7));
    c = INT_MAX;
    EXPECT_FALSE(edge_index(c, 7, 3));
    EXPECT_EQ(c, INT_MAX % 7);
    c = -1;
    EXPECT_FALSE(edge_index(c, 4, 4));
    EXPECT_EQ(c, -1);
}

TEST(EdgeCoordinate, Table) {
    struct Case { double x; int mode; bool inside; double expect; };
    const Case cases[] = {
        {2.5, 1, true, 2.5},     {0.0, 2, true, 0.0},      {3.99, 3, true, 3.99},
        {7.3, 1, false, 3.0},    {-2.0, 1, false, 0.0},    {4.0, 1, false, 3.0},
        {4.0, 2, false, 3.9999}, {5.5, 2, false, 2.5},     {8.5, 2, false, 0.5},
        {-0.5, 2, false, 0.5},   {-5.5, 2, false, 2.5},    {-4.0, 2, false, 3.9999},
        {-8.5, 2, false, 0.5},   {4.0, 3, false, 0.0},     {9.5, 3, false, 1.5},
        {-0.5, 3, false, 3.5},   {-4.0, 3, false, 3.9999}, {-9.25, 3, false, 2.75},
        {-1.0, 4, false, -1.0},  {6.0, 4, false, 6.0},     {6.0, 0, false, 6.0},
    };
    for (const Case& c : cases) {
        double x = c.x;
        EXPECT_EQ(edge_coordinate(x, 4, c.mode), c.inside) << c.x << " mode " << c.mode;
        EXPECT_NEAR(x, c.expect, 1e-12) << c.x << " mode " << c.mode;
    }
}

}  // namespace
