// The tile renderer against a brute-force reference of its six passes on one small padded
// tile. The reference evaluates every layer sum directly, source by source, from the kernels'
// change records (no lists, no running sums), finds each footprint minimum by visiting the
// footprint, gathers the hole sums at each change's own column and composes, fills and writes
// with plain double arithmetic. The margin is wider than any kernel, so the core sees every
// source whole. Tolerances: float formats 2e-5 (the renderer sums in another order and rounds
// its per-pixel values to float). Integer formats are written exactly as the reference's
// value rounds: to nearest with alpha or gamma correction, toward zero without either; only
// a value within 0.05 levels (0.25 in 16-bit formats, whose float sums near 32768 carry more
// absolute rounding; both scaled by MAX / alpha where colour is divided by alpha) of its
// rounding boundary may land on either side.
#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <vector>

#include "kernel/highlight_selection.h"
#include "pixel/colour.h"
#include "pixel/edge_mode.h"
#include "tile_test_support.h"

using namespace ov;
using namespace tile_test;

namespace {

template <class View>
struct Reference {
    using P = typename View::pixel_type;
    static constexpr int N = P::base_count, C = P::colour_count;
    using Px = std::array<double, N>;
    using Filter = DepthOfFieldFilter<View, ImgDepth8>;

    Reference(const Filter& f_, int32_t margin) : f(f_), M(margin) {
        W = int32_t(f.destination.width) + 2 * M;
        H = int32_t(f.destination.height) + 2 * M;
    }

    const Filter& f;
    int32_t M, W, H;
    // What the renderer left in its buffers (coverage minus 1 and the composite of every core
    // position, row by row over the core), compared on the way.
    const float* rendererExcess = nullptr;
    const float* rendererComposite = nullptr;
    std::vector<int> blur;
    std::vector<Px> colour;
    // Gamma correction on a source with transparency: colour is decoded straight and
    // premultiplied in linear light, and divided by alpha before it is encoded.
    bool straight = false;
    std::vector<double> highlight;
    std::vector<int> minIndex;

    size_t at(int x, int y) const { return size_t(y) * size_t(W) + size_t(x); }

    void sources() {
        blur.assign(size_t(W) * H, 0);
        colour.assign(size_t(W) * H, Px{});
        highlight.assign(size_t(W) * H, 0.0);
        HslRangeSettings settings{};
        hslRangeSetup<P>(settings, f.params.highlight_selection);
        // Colour is linear light in "normal blur" with gamma correction, never in "info density".
        const bool decode = f.params.gamma_correction && f.params.view == 1;
        straight = false;
        if constexpr (P::has_alpha)
            for (uint32_t y = 0; y < f.source.height; ++y)
                for (uint32_t x = 0; x < f.source.width; ++x)
                    straight = straight || !(double(f.source.at(x, y).v[N - 1]) >= P::max_value);
        straight = straight && decode;
        for (int py = 0; py < H; ++py)
            for (int px = 0; px < W; ++px) {
                int32_t x = px - M, y = py - M;
                const bool inX = edge_index(x, int32_t(f.source.width), f.params.edge_mode_x);
                const bool inY = edge_index(y, int32_t(f.source.height), f.params.edge_mode_y);
                // A position outside the depth map reads depth 0.
                const double v = sampleDepthCurve(f.depth_map, uint32_t(x), uint32_t(y), f.curve_lut, f.params.depth_mode,
                                                  f.params.depth_invert != 0, f.params.depth_low, f.params.depth_high);
                blur[at(px, py)] = int(v * 255.0);
                Px c{};
                if ((!inX && f.params.edge_mode_x == 4) || (!inY && f.params.edge_mode_y == 4)) {
                    // The outside colour: colour components in layout order, alpha from the
                    // fourth component, on the MAX scale in single precision, not premultiplied;
                    // it lies outside the selection, so it is no highlight.
                    for (int i = 0; i < C; ++i) c[i] = double(f.params.outside_color[i] * float(P::max_value));
                    if constexpr (P::has_alpha) c[N - 1] = double(f.params.outside_color[3] * float(P::max_value));
                    if (decode)
                        for (int i = 0; i < C; ++i)
                            c[i] = P::is_integer ? f.decode_lut[int(c[i] / P::max_value * 32767.0)] : rec709_to_linear(c[i]);
                    for (int i = 0; i < N; ++i) c[i] = double(float(c[i]));
                    colour[at(px, py)] = c;
                    highlight[at(px, py)] = 0.0;
                    continue;
                }
                const P& s = f.source.at(x, y);
                for (int i = 0; i < N; ++i) c[i] = double(s.v[i]);
                if constexpr (P::has_alpha) {
                    if (!straight)
                        for (int i = 0; i < C; ++i) c[i] *= c[N - 1] / P::max_value;
                }
                if (decode)
                    for (int i = 0; i < C; ++i)
                        c[i] = P::is_integer ? f.decode_lut[int(c[i] / P::max_value * 32767.0)] : rec709_to_linear(c[i]);
                if (straight)
                    for (int i = 0; i < C; ++i) c[i] *= c[N - 1] / P::max_value;
                for (int i = 0; i < N; ++i) c[i] = double(float(c[i]));
                colour[at(px, py)] = c;
                // The highlight window sees premultiplied colour: the factor alpha / MAX in
                // single precision, each sample truncated to its type.
                P lit = s;
                if constexpr (P::has_alpha) {
                    const float factor = float(s.v[N - 1]) * float(1.0 / P::max_value);
                    for (int i = 0; i < C; ++i) lit.v[i] = typename P::sample_type(float(s.v[i]) * factor);
                }
                highlight[at(px, py)] = double(float(hslRangeWeight(settings, lit)));
            }
    }

    // The smallest blur index under each footprint: its rows inside the tile (from the first
    // row with changes that starts left of the right edge), each run clamped into the tile.
    void footprints() {
        minIndex.assign(size_t(W) * H, 0);
        for (int py = 0; py < H; ++py)
            for (int px = 0; px < W; ++px) {
                const int b = blur[at(px, py)];
                const IrisKernel& k = f.kernels[b];
                int m = b;
                bool started = false;
                for (int dy = std::max(k.top_row, -py); dy <= k.bottom_row && py + dy < H; ++dy) {
                    const int n = k.row_count[dy + k.half_height];
                    if (n <= 0) continue;
                    const KernelDeltaRecord* r = k.records + k.row_first[dy + k.half_height];
                    const int s = px + r[0].x, e = px + r[n - 1].x;
                    if (!started && s >= W) break;
                    started = true;
                    for (int x = std::clamp(s, 0, W - 1); x <= std::clamp(e, 0, W - 1); ++x)
                        m = std::min(m, blur[at(x, py + dy)]);
                }
                minIndex[at(px, py)] = m;
            }
    }

    // The renderer's output for the core, as doubles (destination samples).
    std::vector<Px> render() {
        sources();
        footprints();
        const bool hl = f.highlights();
        const double strength = f.params.highlight_preservative;
        std::vector<Px> gather(size_t(W) * H, Px{});
        std::vector<double> gatherW(size_t(W) * H, 0.0);
        std::vector<Px> comp(size_t(W) * H, Px{});
        std::vector<double> excess(size_t(W) * H, 0.0), keep(size_t(W) * H, 1.0);
        struct Change { int q; double delta; double shape; };
        for (int py = 0; py < H; ++py) {
            // Every change of every source's kernel row on this padded row, at its column
            // (changes left of the tile at column 0; those right of it are never applied).
            std::vector<std::vector<Change>> changes{size_t(W)};
            for (int qy = 0; qy < H; ++qy)
                for (int qx = 0; qx < W; ++qx) {
                    const IrisKernel& k = f.kernels[blur[at(qx, qy)]];
                    const int dy = py - qy;
                    if (dy < k.top_row || dy > k.bottom_row) continue;
                    const int n = k.row_count[dy + k.half_height];
                    const KernelDeltaRecord* r = k.records + k.row_first[dy + k.half_height];
                    for (int j = 0; j < n; ++j) {
                        const int x = qx + r[j].x;
                        if (x >= W) break;  // only sources in the margin reach past it
                        changes[size_t(std::max(x, 0))].push_back({int(at(qx, qy)), double(r[j].weight_delta),
                                                                   double(r[j].coverage_delta)});
                    }
                }
            std::vector<Px> layer(256, Px{}), hole(256, Px{}), hls(256, Px{});
            std::vector<double> layerCov(256, 0.0), holeW(256, 0.0), hlShape(256, 0.0), hlW(256, 0.0);
            int top = 255;
            for (int x = 0; x < W; ++x) {
                for (const Change& c : changes[size_t(x)]) {
                    const int d = blur[size_t(c.q)];
                    const double w = c.delta * f.kernels[d].inv_sum;
                    top = std::max(top, d);
                    for (int i = 0; i < N; ++i) layer[d][i] += colour[size_t(c.q)][i] * w;
                    layerCov[d] += w;
                    if (hl && highlight[size_t(c.q)] > 0.0) {
                        const double t = double(float(highlight[size_t(c.q)] * w * strength));
                        for (int i = 0; i < N; ++i) hls[d][i] += colour[size_t(c.q)][i] * t;
                        hlShape[d] += c.shape;
                        hlW[d] += t;
                    }
                    for (int i = 0; i < N; ++i) gather[size_t(c.q)][i] += -c.delta * hole[d][i];
                    gatherW[size_t(c.q)] += -c.delta * holeW[d];
                }
                const size_t i0 = at(x, py);
                const int own = blur[i0], lo = minIndex[i0];
                double total = 0.0, bw = 0.0, hs = 0.0, hw = 0.0;
                Px cp{}, bc{}, hc{};
                int nextTop = top;
                for (int d = top; d >= lo; --d) {
                    const double cov = layerCov[d];
                    if (!(cov > 0.0)) {
                        if (total <= 1e-5) nextTop = d;
                        continue;
                    }
                    if (d <= own) {
                        bw += cov;
                        for (int i = 0; i < N; ++i) bc[i] += layer[d][i];
                    }
                    const double before = total;
                    total += cov;
                    if (before >= 1.0) continue;
                    const double part = total >= 1.0 ? (1.0 - before) / cov : 1.0;
                    for (int i = 0; i < N; ++i) cp[i] += part * layer[d][i], hc[i] += part * hls[d][i];
                    hs += part * hlShape[d];
                    hw += part * hlW[d];
                }
                for (int i = 0; i < N; ++i)
                    if (P::is_integer || (P::has_alpha && i == N - 1)) cp[i] = std::clamp(cp[i], 0.0, P::max_value);
                if (hl && hw > 0.0001) {
                    const double k = std::min(hs, 1.0) * std::min(hw / std::min(total, 1.0), 1.0);
                    for (int i = 0; i < N; ++i) cp[i] = cp[i] * (1.0 - k) + hc[i] / hw * k;
                    keep[i0] = 1.0 - k;
                }
                comp[i0] = cp;
                const bool core = x >= M && py >= M && x < W - M && py < H - M;
                const size_t c0 = core ? size_t(py - M) * size_t(W - 2 * M) + size_t(x - M) : 0;
                if (core)
                    for (int i = 0; i < N; ++i)
                        if (std::fabs(double(rendererComposite[c0 * N + i]) - cp[i]) > 2e-5 * P::max_value)
                            ADD_FAILURE() << "composite at " << x << "," << py << " channel " << i << ": "
                                          << rendererComposite[c0 * N + i] << " vs " << cp[i];
                if (own <= top) {
                    for (int i = 0; i < N; ++i) bc[i] = bw > 0.0 ? bc[i] / bw : 0.0;
                    for (int d = own; d <= top; ++d) {
                        for (int i = 0; i < N; ++i) hole[d][i] += bc[i] * (d - own + 1);
                        holeW[d] += d - own + 1;
                    }
                }
                excess[i0] = total - 1.0;
                if (core && std::fabs(double(rendererExcess[c0]) - excess[i0]) > 1e-5)
                    ADD_FAILURE() << "coverage at " << x << "," << py << ": " << rendererExcess[i0] + 1.0 << " vs " << total;
                top = nextTop;
            }
        }
        // Output of the core.
        const uint32_t w = f.destination.width, h = f.destination.height;
        std::vector<Px> out(size_t(w) * h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const size_t i0 = at(int(x) + M, int(y) + M);
                if (f.params.view == 6) {
                    // Info density: excess coverage in channel 1 (saturating at twice full
                    // coverage), missing coverage in channel 0, full alpha.
                    Px o{};
                    if (excess[i0] >= 0.0) {
                        if (C >= 2) o[1] = std::min(excess[i0], 1.0) * P::max_value;
                    } else {
                        o[0] = -excess[i0] * P::max_value;
                    }
                    if constexpr (P::has_alpha) o[N - 1] = P::max_value;
                    out[size_t(y) * w + x] = o;
                    continue;
                }
                Px o{}, hcol = gather[i0];
                if (gatherW[i0] > 0.0001)
                    for (int i = 0; i < N; ++i) hcol[i] /= gatherW[i0];
                for (int i = 0; i < N; ++i) {
                    if (P::is_integer || (P::has_alpha && i == N - 1)) hcol[i] = std::clamp(hcol[i], 0.0, P::max_value);
                    const double fill = excess[i0] >= 0.0 ? 0.0 : hcol[i] * -excess[i0] * std::min(keep[i0], 1.0);
                    o[i] = comp[i0][i] + fill;
                }
                if (straight) {
                    // Divided by alpha (0..MAX) first, then encoded; a float pixel below 1e-5
                    // of full coverage is written clear.
                    const double a = std::clamp(o[N - 1], 0.0, P::max_value);
                    o[N - 1] = a;
                    if (!P::is_integer && a < 1e-5) o = Px{};
                    for (int i = 0; i < C; ++i) {
                        if (a > 0.0) o[i] *= P::max_value / a;
                        const double c = std::clamp(o[i], 0.0, P::max_value);
                        o[i] = P::is_integer ? f.encode_lut[int(c / P::max_value * 32767.0)] : linear_to_rec709(o[i]);
                    }
                    if (P::is_integer)
                        for (int i = 0; i < N; ++i) o[i] = std::clamp(o[i], 0.0, P::max_value);
                    out[size_t(y) * w + x] = o;
                    continue;
                }
                if (f.params.gamma_correction)
                    for (int i = 0; i < C; ++i) {
                        const double c = std::clamp(o[i], 0.0, P::max_value);
                        o[i] = P::is_integer ? f.encode_lut[int(c / P::max_value * 32767.0)] : linear_to_rec709(o[i]);
                    }
                if constexpr (P::has_alpha) {
                    if (P::is_integer && f.params.gamma_correction) o[N - 1] = std::clamp(o[N - 1], 0.0, P::max_value);
                    if (o[N - 1] > 0.0)
                        for (int i = 0; i < C; ++i) o[i] *= P::max_value / o[N - 1];
                }
                if (P::is_integer)
                    for (int i = 0; i < N; ++i) o[i] = std::clamp(o[i], 0.0, P::max_value);
                out[size_t(y) * w + x] = o;
            }
        return out;
    }
};

struct Case {
    const char* name;
    double radius;
    bool gamma;
    double highlight;       // HighlightPreservative (0: plain variant)
    double borderBright;    // iris settings
    double border;
    double aspect;
    int facets;
    double angle;           // iris angle in radians
    int edge;               // edge mode on both axes (4: the outside colour)
    bool noiseDepth;        // a depth map of pure noise instead of the ramp with a near block
    bool output;            // compare the written pixels too (see below)
    int view = 1;           // 1 "normal blur", 6 "info density"
    bool invert = false;    // depth invert
    double depthCurve = 1.0;
};

// Whether an integer sample `got` is what the reference value w gives: rounded to nearest or
// truncated, or the integer on the other side of a boundary that w lies within eps of.
bool integerMatches(double got, double w, bool nearest, double eps, double max) {
    const double v = nearest ? w + 0.5 : w;
    const double want = std::clamp(std::floor(v), 0.0, max);
    if (got == want) return true;
    const double frac = v - std::floor(v);
    if (frac < eps) return got == std::clamp(want - 1.0, 0.0, max);
    if (frac > 1.0 - eps) return got == std::clamp(want + 1.0, 0.0, max);
    return false;
}

template <class View>
void compareWithReference(const Case& c, double tol) {
    using P = typename View::pixel_type;
    constexpr int kMargin = 12;
    Rig<View> rig(22, 16, 1);
    fillRandom(rig.source, 21, 0.4);
    std::mt19937 rng(5);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 22; ++x)
            rig.depth.at(x, y) = c.noiseDepth ? uint8_t(rng() % 256)
                                 : (x > 8 && x < 14 && y > 4 && y < 11) ? 250 : uint8_t(x * 11 + rng() % 5);
    rig.params.blur_radius = c.radius;
    rig.params.gamma_correction = c.gamma ? 1 : 0;
    rig.params.highlight_preservative = c.highlight;
    rig.params.highlight_selection.lightnessLow = 0.6;
    rig.params.iris_border_brightness = c.borderBright;
    rig.params.iris_border = c.border;
    rig.params.iris_aspect = c.aspect;
    rig.params.iris_facets = c.facets;
    rig.params.iris_angle = c.angle;
    rig.params.edge_mode_x = rig.params.edge_mode_y = c.edge;
    rig.params.view = c.view;
    rig.params.depth_invert = c.invert ? 1 : 0;
    rig.params.depth_curve = c.depthCurve;
    // Distinct components, so that a channel taken from the wrong one shows.
    rig.params.outside_color[0] = 0.25f;
    rig.params.outside_color[1] = 0.5f;
    rig.params.outside_color[2] = 0.75f;
    rig.params.outside_color[3] = 1.0f;

    typename Rig<View>::Filter f(&rig.host);
    rig.wire(f);
    ASSERT_EQ(f.init_all(), kStatusOk);
    unsigned rx = 0, ry = 0;
    max_blur_extent(f.params, 1.0, rx, ry);
    ASSERT_LE(int(std::max(rx, ry)) + 2, kMargin) << c.name;
    f.tiles = TileSet2D{};
    f.tiles.rows = f.tiles.cols = 1;
    f.tiles.width = 22;
    f.tiles.height = 16;
    f.tiles.cpus = 1;
    f.tiles.overflow = Rectangle{-kMargin, kMargin, -kMargin, kMargin};
    ASSERT_EQ(f.init_memory(1), kStatusOk);
    f.next_tile = 0;
    const uint32_t status = f.highlights() ? f.template render_callback<true>(0, 1, 0)
                                           : f.template render_callback<false>(0, 1, 0);
    ASSERT_EQ(status, kStatusOk);

    if (c.borderBright == 1.0) {  // the case is there for kernels with an empty interior row
        int empty = 0;
        for (const IrisKernel& k : f.kernels)
            for (int r = k.top_row + 1; r < k.bottom_row; ++r) empty += k.row_count[r + k.half_height] == 0;
        EXPECT_GT(empty, 0) << c.name;
    }
    Reference<View> ref(f, kMargin);
    ref.rendererExcess = f.chunk_buffers[0].coverage_excess;
    ref.rendererComposite = static_cast<const float*>(f.chunk_buffers[0].composite);
    const auto want = ref.render();
    // The footprint minima of the whole padded tile, as pass 3 left them.
    const uint8_t* minIndex = f.chunk_buffers[0].min_index;
    for (size_t i = 0; i < ref.minIndex.size(); ++i)
        ASSERT_EQ(int(minIndex[i]), ref.minIndex[i]) << c.name << " position " << i;
    if (!c.output) {
        f.free_memory(1);
        f.free_all();
        return;
    }
    const bool nearest = c.view == 1 && (P::has_alpha || c.gamma);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 22; ++x) {
            const auto& o = want[size_t(y) * 22 + x];
            for (int i = 0; i < P::base_count; ++i) {
                const double w = o[i];
                const double got = double(rig.destination.at(x, y).v[i]);
                if constexpr (P::is_integer) {
                    double eps = std::is_same_v<typename P::sample_type, unsigned short> ? 0.25 : 0.05;
                    if (P::has_alpha && i != P::base_count - 1 && o[P::base_count - 1] > 0.0)
                        eps *= std::max(1.0, P::max_value / o[P::base_count - 1]);
                    EXPECT_TRUE(integerMatches(got, w, nearest, eps, P::max_value))
                        << c.name << " at " << x << "," << y << " sample " << i << ": " << got << " vs " << w;
                } else {
                    EXPECT_LE(std::fabs(got - w), tol)
                        << c.name << " at " << x << "," << y << " sample " << i << ": " << got << " vs " << w;
                }
            }
        }
    f.free_memory(1);
    f.free_all();
}

// A bright thin border, flat facets and a tall aspect make kernels with empty interior rows;
// there the minima, the coverage and the composite are compared but not the written pixels:
// the hole colour normalises a background whose weight can be a rounding residue of
// cancelled kernel changes, so it depends on the order of summation.
const Case kCases[] = {
    {"round iris", 6.0, false, 0.0, 0.0, 0.0, 0.0, 6, 0.0, 2, false, true},
    {"gamma", 6.0, true, 0.0, 0.0, 0.0, 0.0, 6, 0.0, 2, false, true},
    {"highlights", 6.0, false, 12.0, 0.0, 0.0, 0.0, 5, 0.0, 2, false, true},
    {"highlights with gamma", 6.0, true, 12.0, 0.0, 0.0, 0.0, 5, 0.0, 2, false, true},
    {"wide aspect", 5.0, false, 0.0, 0.0, 0.0, 0.5, 7, 0.0, 2, false, true},
    {"outside colour", 6.0, false, 6.0, 0.0, 0.0, 0.0, 6, 0.0, 4, false, true},
    {"outside colour with gamma", 6.0, true, 0.0, 0.0, 0.0, 0.0, 6, 0.0, 4, false, true},
    {"rotated square iris on noise", 6.0, false, 0.0, 0.0, 0.0, 0.0, 4, 0.4, 3, true, true},
    {"border colour", 6.0, true, 6.0, 0.0, 0.0, 0.0, 6, 0.0, 1, false, true},
    {"info density", 6.0, false, 0.0, 0.0, 0.0, 0.0, 6, 0.0, 2, false, true, 6},
    {"info density on noise", 5.0, true, 6.0, 0.0, 0.0, 0.0, 4, 0.4, 4, true, true, 6},
    {"inverted depth on a curve", 6.0, false, 0.0, 0.0, 0.0, 0.0, 6, 0.0, 2, false, true, 1, true, 2.5},
    {"empty rows", 5.0, false, 0.0, 1.0, 0.05, -0.5, 6, 0.0, 2, false, false},
    // A border brighter or darker than the iris's inside makes a kernel whose weight is not
    // its coverage: the highlight blend follows the coverage.
    {"highlights through a bright border", 6.0, false, 20.0, 0.5, 0.3, 0.0, 6, 0.0, 2, false, true},
    {"highlights through a dark border with gamma", 6.0, true, 12.0, -0.6, 0.4, 0.3, 5, 0.2, 2, true, true},
};

TEST(TileReference, FloatFormatsAgree) {
    for (const Case& c : kCases) {
        compareWithReference<ImgHostRGBA_F1>(c, 2e-5);
        compareWithReference<ImgHostGray_F1>(c, 2e-5);
        compareWithReference<ImgHostTwoChA_F1>(c, 2e-5);
        compareWithReference<ImgHostTwoCh_F1>(c, 2e-5);
    }
}

// 8-bit formats of every layout: rounding, the selection premultiply in single precision and
// the outside colour's alpha in the formats with alpha.
TEST(TileReference, EightBitAgrees) {
    for (const Case& c : kCases) {
        compareWithReference<ImgHostRGB_U8>(c, 0.0);
        compareWithReference<ImgHostRGBA_U8>(c, 0.0);
        compareWithReference<ImgHostGrayA_U8>(c, 0.0);
        compareWithReference<ImgHostTwoChA_U8>(c, 0.0);
        compareWithReference<ImgHostTwoCh_U8>(c, 0.0);
    }
}

// 16-bit formats without gamma correction (with it, the encode index is formed in single
// precision, which the reference does not model: a step of the table there is several levels).
TEST(TileReference, SixteenBitAgrees) {
    for (const Case& c : kCases) {
        if (c.gamma) continue;
        compareWithReference<ImgHostRGB_U16>(c, 0.0);
        compareWithReference<ImgHostRGBA_U16>(c, 0.0);
        compareWithReference<ImgHostGrayA_U16>(c, 0.0);
        compareWithReference<ImgHostTwoCh_U16>(c, 0.0);
    }
}

}  // namespace
