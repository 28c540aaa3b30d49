// A second host for the Windows test host: it builds the filter record and the tables it
// points to as byte buffers, writing every field at the byte offset that 64-bit hosts of the
// interface publish, and never uses the plug-in's own header for them. A module whose idea of
// the layout differs from the hosts' fails here, where a host sharing the module's header
// cannot see it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelidorn {

// The entry point as a host calls it (selector, parameter block, data word, result).
using PublishedEntryFn = void (*)(uint16_t selector, void* block, intptr_t* data, int16_t* result);

struct PublishedLayoutRun {
    std::vector<std::string> failures;  // empty when every check held
    int checks = 0;
};

// Runs Prepare, Start, Continue (while an area is still asked for) and Finish on a small
// 8-bit RGB layer with transparency, with a blur radius of 300 played back through the
// scripting descriptor (no dialog), and checks what the module writes at the published
// offsets: the spaces zeroed by Prepare; at advanceState the whole image requested in every
// plane at full rate with padding 255; after Start the three rectangles emptied, the image
// and its transparency plane blurred and nothing written past the record's 556 bytes.
PublishedLayoutRun RunWithPublishedLayout(PublishedEntryFn entry);

}  // namespace pelidorn
