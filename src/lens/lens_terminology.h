// The lens filter's scripting terminology records, built from the one parameter
// table (lens_parameter_table.h), and the module's resource bytes built from them.
#pragma once

#include <cstdint>
#include <vector>

#include "host/resources/plugin_resources.h"

namespace ov::lens {

// The 24 records in the terminology's stored order.
std::vector<ov::resources::TerminologyParameter> PelidornTerminologyParameters();
// The module's "AETE" resource, 1333 bytes.
std::vector<uint8_t> PelidornTerminology();

}  // namespace ov::lens
