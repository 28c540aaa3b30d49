// wintesthost: the Windows test host (also built natively). It loads the plug-in module as
// a host does (LoadLibrary and the resource functions on Windows, dlopen natively), checks
// the module's property list, terminology and string table against their source of truth,
// and runs the selectors on small synthetic documents in twelve of the 18 formats, comparing
// every output with the golden outputs that the native build wrote (tests/tools/golden).
// Last it runs the module once more from a host that builds the filter record from the
// interface's published byte offsets (published_layout_host.h), not from the shared header.
//
//   wintesthost MODULE GOLDEN          compare (exit 0 when every case matches)
//   wintesthost MODULE GOLDEN --write  write GOLDEN from this build (native build only)
//
// Tolerance: none. Every output must equal the native build's output bit for bit; the
// project builds both with -ffp-contract=off and without fast math so that they agree. A
// difference is reported as the largest sample difference and fails the case.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/resources/plugin_resources.h"
#include "host/string_table.h"
#include "lens/lens_terminology.h"
#include "tools/pelidorn/module_loader.h"
#include "tools/pelidorn/plugin_host.h"
#include "tools/scene/scene_random.h"
#include "tools/wintesthost/published_layout_host.h"

using namespace pelidorn;

namespace {

// A small scene: a gradient, a few bright highlights, a dark bar; alpha a soft ramp.
HostDocument Synthetic(int colors, bool alpha, int depth, bool selection) {
    HostDocument d;
    d.width = 24;
    d.height = 16;
    d.colorChannels = colors;
    d.alpha = alpha;
    d.depth = depth;
    const int planes = d.planes();
    d.pixels.assign(d.rowBytes() * d.height, 0);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x)
            for (int p = 0; p < planes; ++p) {
                double v;
                if (alpha && p == planes - 1) {
                    v = 0.35 + 0.65 * x / (d.width - 1.0);
                } else {
                    v = 0.15 + 0.35 * (x + 2.0 * y) / (d.width + 2.0 * d.height) + 0.08 * p;
                    if ((x == 5 && y == 4) || (x == 17 && y == 10) || (x == 11 && y == 12)) v = 1.0;
                    if (x >= 8 && x < 10) v = 0.05;
                    v += 0.02 * ((SceneHash(uint32_t(x * 131 + y * 977 + p * 7)) & 255) / 255.0 - 0.5);
                    v = std::fmin(1.0, std::fmax(0.0, v));
                }
                uint8_t* s = d.pixels.data() + (size_t(y) * d.width + x) * planes * d.sampleBytes() + p * d.sampleBytes();
                if (depth == 8) *s = uint8_t(std::lround(v * 255));
                else if (depth == 16) {
                    const uint16_t h = uint16_t(std::lround(v * 32768));
                    std::memcpy(s, &h, 2);
                } else {
                    const float f = float(v);
                    std::memcpy(s, &f, 4);
                }
            }
    if (selection) {
        d.selection.assign(size_t(d.width) * d.height, 0);
        // A small hexagon-ish blob as the iris shape.
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x)
                if (std::abs(x - 12) + std::abs(y - 8) * 2 < 9) d.selection[size_t(y) * d.width + x] = 255;
    }
    return d;
}

DescriptorItem Long(const char (&k)[5], int32_t v) {
    DescriptorItem i;
    i.key = ov::resources::FourCC(k);
    i.type = typeInteger;
    i.integer = v;
    return i;
}
DescriptorItem Double(const char (&k)[5], double v) {
    DescriptorItem i;
    i.key = ov::resources::FourCC(k);
    i.type = typeFloat;
    i.number = v;
    return i;
}

struct Case {
    const char* name;
    int colors;
    bool alpha;
    int depth;
    bool selection;
    std::vector<DescriptorItem> values;
    int16_t expected;
};

std::vector<Case> Cases() {
    const auto blur = std::vector<DescriptorItem>{Double("RADI", 300), Long("IRFA", 6)};
    return {
        {"gray8_blur", 1, false, 8, false, blur, 0},
        {"gray8a_blur", 1, true, 8, false, blur, 0},
        {"rgb8_blur", 3, false, 8, false, blur, 0},
        {"rgba8_blur", 3, true, 8, false, blur, 0},
        {"gray16_blur", 1, false, 16, false, blur, 0},
        {"rgb16_blur", 3, false, 16, false, blur, 0},
        {"rgba16_blur", 3, true, 16, false, blur, 0},
        {"grayf_blur", 1, false, 32, false, blur, 0},
        {"rgbf_blur", 3, false, 32, false, blur, 0},
        {"rgbaf_blur", 3, true, 32, false, blur, 0},
        {"two8_blur", 2, false, 8, false, blur, 0},
        {"two16a_blur", 2, true, 16, false, blur, 0},
        {"rgb8_iris", 3, false, 8, false, {Double("RADI", 300), Long("SHOW", 2)}, 0},
        {"rgb8_highlights", 3, false, 8, false, {Long("SHOW", 3), Double("SELL", 180)}, 0},
        {"rgba16_highlights_only", 3, true, 16, false, {Long("SHOW", 4), Double("SELL", 180)}, 0},
        {"rgb8_selection_iris", 3, false, 8, true, {Double("RADI", 300), Long("SEIS", 2)}, 0},
        {"rgb8_depth_blur", 3, false, 8, true, {Double("RADI", 300), Long("SEIS", 1)}, 0},
        {"rgbaf_depth_blur_highlights", 3, true, 32, true, {Double("RADI", 300), Long("SEIS", 1), Double("HIPR", 8)}, 0},
        {"gray16_depth_density", 1, false, 16, true, {Double("RADI", 300), Long("SEIS", 1), Long("SHOW", 6)}, 0},
        // The selection as depth map: the depth-of-field engine's views (its 7-entry list).
        {"rgb8_depth_buffer", 3, false, 8, true, {Long("SEIS", 1), Long("SHOW", 3)}, 0},
        {"rgba16_depth_buffer", 3, true, 16, true, {Long("SEIS", 1), Long("SHOW", 3)}, 0},
        {"rgbaf_depth_iris", 3, true, 32, true, {Long("SEIS", 1), Long("SHOW", 2), Long("IRFA", 6)}, 0},
        {"two8_depth_highlights", 2, false, 8, true, {Long("SEIS", 1), Long("SHOW", 4), Double("SELL", 180)}, 0},
    };
}

struct Golden {
    std::string name;
    std::vector<uint8_t> bytes;
};

bool ReadGolden(const std::string& path, std::vector<Golden>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char name[32];
    uint32_t size;
    while (std::fread(name, 1, 32, f) == 32 && std::fread(&size, 4, 1, f) == 1) {
        Golden g;
        g.name.assign(name, strnlen(name, 32));
        g.bytes.resize(size);
        if (size && std::fread(g.bytes.data(), 1, size, f) != size) break;
        out.push_back(std::move(g));
    }
    std::fclose(f);
    return true;
}

bool WriteGolden(const std::string& path, const std::vector<Golden>& goldens) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    for (const Golden& g : goldens) {
        char name[32] = {};
        std::strncpy(name, g.name.c_str(), 31);
        const uint32_t size = uint32_t(g.bytes.size());
        std::fwrite(name, 1, 32, f);
        std::fwrite(&size, 4, 1, f);
        std::fwrite(g.bytes.data(), 1, size, f);
    }
    return std::fclose(f) == 0;
}

// The largest difference between two outputs, sample by sample (in the samples' own units).
double MaxDifference(const HostDocument& d, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double worst = 0;
    const size_t n = a.size() / d.sampleBytes();
    for (size_t i = 0; i < n; ++i) {
        double x, y;
        if (d.depth == 8) x = a[i], y = b[i];
        else if (d.depth == 16) {
            uint16_t p, q;
            std::memcpy(&p, &a[2 * i], 2);
            std::memcpy(&q, &b[2 * i], 2);
            x = p, y = q;
        } else {
            float p, q;
            std::memcpy(&p, &a[4 * i], 4);
            std::memcpy(&q, &b[4 * i], 4);
            x = p, y = q;
        }
        worst = std::fmax(worst, std::fabs(x - y));
    }
    return worst;
}

int passed = 0, failed = 0;
void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    ok ? ++passed : ++failed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wintesthost MODULE GOLDEN [--write]\n");
        return 2;
    }
    const std::string modulePath = argv[1], goldenPath = argv[2];
    const bool write = argc > 3 && std::strcmp(argv[3], "--write") == 0;
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // The entry point's name comes from the property list, as a host reads it.
    LoadedModule module;
    std::string error;
    std::string entryName = "ENTRYPOINT";
    std::vector<uint8_t> pipl, aete;
#if defined(_WIN32)
    if (!LoadModule(modulePath, "ENTRYPOINT", module, error)) {
        std::printf("FAILED: %s\n0 passed, 1 failed\n", error.c_str());
        return 1;
    }
    Check(ReadModuleResource(module, "PIPL", 16000, pipl), "the module has a PIPL resource 16000");
    Check(pipl == ov::resources::BuildPropertyList(), "its property list equals the one the resource tables build (406 bytes)");
    const auto parsed = ov::resources::ParsePropertyList(pipl.data(), pipl.size());
    Check(parsed.entryPoint == "ENTRYPOINT" && ov::resources::FourCCText(parsed.kind) == "8BFM",
          "the property list names the filter's entry point ENTRYPOINT");
    Check(ReadModuleResource(module, "AETE", 16000, aete), "the module has an AETE resource 16000");
    Check(aete == ov::lens::PelidornTerminology(), "its terminology equals the one the parameter table builds (1333 bytes)");
    for (const ov::ModuleString& s : ov::kModuleStrings) {
        std::string text;
        const bool found = ReadModuleString(module, s.id, text);
        Check(found && text == s.text, "string " + std::to_string(s.id) + " of the string table");
    }
    entryName = parsed.entryPoint.empty() ? entryName : parsed.entryPoint;
#else
    if (!LoadModule(modulePath, entryName, module, error)) {
        std::printf("FAILED: %s\n0 passed, 1 failed\n", error.c_str());
        return 1;
    }
#endif

    std::vector<Golden> goldens, produced;
    if (!write && !ReadGolden(goldenPath, goldens)) {
        std::printf("FAILED: cannot read %s\n0 passed, 1 failed\n", goldenPath.c_str());
        return 1;
    }
    for (const Case& c : Cases()) {
        HostDocument doc = Synthetic(c.colors, c.alpha, c.depth, c.selection);
        RunOptions options;
        options.playback = c.values;
        options.recorded = true;
        const RunResult run = RunFilter(module.entry, doc, options);
        const bool resultOk = run.error.empty() && run.result == c.expected && run.wroteDescriptor &&
                              run.written.size() == 24 && run.liveHandlesAfter == 0;
        if (!resultOk) {
            Check(false, std::string(c.name) + ": result " + std::to_string(run.result) + " (expected " +
                             std::to_string(c.expected) + ")" + (run.error.empty() ? "" : ", " + run.error) +
                             ", descriptor keys " + std::to_string(run.written.size()) + ", handles left " +
                             std::to_string(run.liveHandlesAfter));
            continue;
        }
        if (c.expected != 0) {
            Check(true, std::string(c.name) + ": refused with " + std::to_string(run.result));
            continue;
        }
        if (write) {
            produced.push_back({c.name, doc.pixels});
            Check(true, std::string(c.name) + ": written");
            continue;
        }
        const Golden* g = nullptr;
        for (const Golden& x : goldens)
            if (x.name == c.name) g = &x;
        if (!g || g->bytes.size() != doc.pixels.size()) {
            Check(false, std::string(c.name) + ": no golden output of this size (regenerate with --write)");
            continue;
        }
        const bool same = g->bytes == doc.pixels;
        char text[160];
        std::snprintf(text, sizeof text, "%s: %s (largest sample difference %g)", c.name,
                      same ? "equals the native output bit for bit" : "differs from the native output",
                      MaxDifference(doc, g->bytes, doc.pixels));
        Check(same, text);
    }
    if (write) {
        Check(WriteGolden(goldenPath, produced), "golden outputs written to " + goldenPath);
    }

    // The same module driven by a host that lays the filter record out by the published byte
    // offsets instead of the module's own header.
    const PublishedLayoutRun layout = RunWithPublishedLayout(module.entry);
    for (const std::string& failure : layout.failures) Check(false, "published layout: " + failure);
    Check(layout.failures.empty(), "published layout: " + std::to_string(layout.checks) +
                                       " checks of a host that writes the record by its byte offsets");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
