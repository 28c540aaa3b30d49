// Filter-record helpers: the host rectangle operations and the record dump of
// SetupFilterRecord's trace. ov::pfFilter::SetupFilterRecord and the other record operations
// are members of ov::pfFilter (host/pf_filter.h) and live in filter_record.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_api.h"

namespace ov {

// Stores left, top, right, bottom into their fields.
void SetHostRect(Rect& rect, int16_t left, int16_t top, int16_t right, int16_t bottom);
// Each coordinate c becomes c * num / den: the product of the sign-extended coordinate in 32
// bits, divided as an unsigned 32-bit number, truncated to 16 bits. den must not be 0.
void ScaleHostRect(Rect& rect, uint32_t num, uint32_t den);
void CopyHostRect(Rect& destination, const Rect& source);
bool IsHostRectEmpty(const Rect& rect);

// The "pFilterRecord:" dump of SetupFilterRecord (one line per field, each ending in "\n").
std::string DescribeFilterRecord(const FilterRecord& record);

}  // namespace ov
