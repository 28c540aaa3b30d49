#include "ui/parameter_ui.h"

#include "host/parameter.h"

namespace ov {

void pfParameterUI::AttachParameter(pfParameter* parameter) {
  if (!parameter || parameter == parameter_) return;
  parameter_ = parameter;
  parameter->SetUILink(this);
}

pfParameter* pfParameterUI::DetachParameter() {
  pfParameter* p = parameter_;
  if (p) p->SetUILink(nullptr);
  parameter_ = nullptr;
  return p;
}

} // namespace ov
