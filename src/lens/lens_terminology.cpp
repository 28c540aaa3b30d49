#include "lens/lens_terminology.h"

#include "lens/lens_parameter_table.h"

namespace ov::lens {

std::vector<ov::resources::TerminologyParameter> PelidornTerminologyParameters() {
    std::vector<ov::resources::TerminologyParameter> list;
    for (const auto& t : kTerminology)
        list.push_back({t.name, t.key, TerminologyType(t.key), t.description, 0});
    return list;
}

std::vector<uint8_t> PelidornTerminology() {
    return ov::resources::BuildTerminology(PelidornTerminologyParameters());
}

}  // namespace ov::lens
