// pelidorn_resgen DIR: writes the module's property list (DIR/pipl.bin) and terminology
// (DIR/aete.bin) from their one source of truth (src/host/resources, src/lens). The Windows
// module embeds the committed copies in src/host/resources through pelidorn.rc; the native
// test resources_test fails when they differ from what the tables build, and names this
// program as the way to bring them up to date.
#include <cstdio>
#include <string>
#include <vector>

#include "host/resources/plugin_resources.h"
#include "lens/lens_terminology.h"

static bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0) && ok;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelidorn_resgen DIR (writes DIR/pipl.bin and DIR/aete.bin)\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!WriteFile(dir + "/pipl.bin", ov::resources::BuildPropertyList()) ||
        !WriteFile(dir + "/aete.bin", ov::lens::PelidornTerminology())) {
        std::fprintf(stderr, "pelidorn_resgen: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
