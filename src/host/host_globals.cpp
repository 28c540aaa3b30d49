// Process-wide state of the host interface.
#include "host/host_api.h"

namespace ov {

SPBasicSuite* HostBasicSuite = nullptr;

} // namespace ov
