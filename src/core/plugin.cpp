// ov::OstrovannePlugin.
#include "core/plugin.h"

#include <utility>

namespace ov {

OstrovannePlugin::OstrovannePlugin(std::string name_, std::string maker_, uint32_t major,
                                   uint32_t minor, uint32_t revision, std::string description_)
    : name(std::move(name_)),
      maker(std::move(maker_)),
      version{major, minor, revision},
      description(std::move(description_)) {}

OstrovannePlugin::~OstrovannePlugin() = default;

xParameterList& OstrovannePlugin::GetParameters() { return parameters; }
void OstrovannePlugin::NoOp(void*) {}
void OstrovannePlugin::NoOpString(std::string) {}
void OstrovannePlugin::NoOpStringRef(std::string) {}
void OstrovannePlugin::NoOpString5(std::string) {}
bool OstrovannePlugin::ReturnFalse6() { return false; }
bool OstrovannePlugin::ReturnFalse7() { return false; }
bool OstrovannePlugin::ReturnFalse8() { return false; }

}  // namespace ov
