// A Photoshop-compatible filter host, reduced to what a whole-image filter needs: it lays a
// document into a FilterRecord as such a host does (image mode, depth, planes, transparency,
// rectangles, rows, the selection as mask data), offers the basic suite with the Buffer and
// Handle suites, the handle procedures, advance-state, progress and abort procedures and
// the scripting descriptor's read and write procedures, and calls the selectors in a host's
// order: Parameters (only when no values are recorded), Prepare, Start, Continue while the
// plug-in still asks for an area, Finish.
//
// Portable: the stand-in host `pelidorn` (native, dlopen) and the Windows test host
// (LoadLibrary, under Wine) share it. One run at a time per process: the host procedures
// are plain C functions and reach the running session through a process-wide pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace pelidorn {

// The module's exported entry point (selector, parameter block, data word, result).
using EntryPointFn = void (*)(uint16_t selector, void* block, intptr_t* data, int16_t* result);

// A document as the host holds it: interleaved planes (the colour planes, then alpha), each
// sample in the host's units: 8-bit 0..255, 16-bit 0..32768, 32-bit float 0..1.
struct HostDocument {
    int width = 0;
    int height = 0;
    int colorChannels = 1;   // 1 gray, 3 RGB (2: a multichannel document of two planes)
    bool alpha = false;      // a layer with transparency
    int depth = 8;           // 8, 16 or 32
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> selection;  // empty (no selection) or width * height bytes, 255 = selected

    int planes() const { return colorChannels + (alpha ? 1 : 0); }
    int sampleBytes() const { return depth / 8; }
    size_t rowBytes() const { return size_t(width) * planes() * sampleBytes(); }
    // The host's mode number: 1, 10, 17 for gray at 8, 16, 32 bits; 3, 11, 16 for RGB; 7, 14
    // (multichannel) for two planes.
    int16_t imageMode() const;
    // The filter case: 1 flat, 2 flat with selection, 4 transparency, 5 with selection.
    int16_t filterCase() const;
};

// One value of a scripting descriptor: key, type (`long`, `doub`, `bool`) and the value.
struct DescriptorItem {
    uint32_t key = 0;
    uint32_t type = 0;
    int32_t integer = 0;
    double number = 0.0;
    bool boolean = false;
};

struct RunOptions {
    // Values handed to the plug-in through the descriptor, as a host plays back a recorded
    // step (the dialog is not shown). Empty: nothing recorded; the host then calls the
    // Parameters selector first and hands in no descriptor.
    std::vector<DescriptorItem> playback;
    bool recorded = false;   // playback holds recorded values (even if empty)
    std::function<void(int32_t done, int32_t total)> progress;
    std::function<bool()> abort;
    // Memory the Buffer suite may hand out in total (bytes); 0 = no limit. The record's
    // maxSpace and the suite's GetSpace answer it (2 GiB when 0).
    uint64_t bufferBudget = 0;
    // Refuse every Buffer-suite request (and count it): a trial run that tells whether the
    // plug-in's work area fits what it can address before any work is done. Requests below
    // grantBelow bytes are still served, so that a plug-in that takes its small tables before
    // it sizes its work area reaches that point.
    bool refuseBuffers = false;
    uint64_t grantBelow = 0;
    // A trial that renders the whole image to learn whether it fits: the document keeps its
    // pixels (the output is dropped), so that the next trial starts from the same image.
    bool discardOutput = false;
    // Bytes of address space the process has mapped, asked when the system refuses a Buffer-
    // suite block (empty: not asked), so that a refusal can say what else took the space.
    std::function<uint64_t()> mappedBytes;
    // Test switches: leave out the basic suite, the progress or the advance-state procedure.
    bool withBasicSuite = true;
    bool withProgressProc = true;
    bool withAbortProc = true;
    bool withAdvanceState = true;
};

struct RunResult {
    int16_t result = 0;             // the first non-zero selector result, or 0
    int16_t failedSelector = -1;    // which selector answered it (-1: none)
    std::vector<int16_t> selectorsCalled;
    bool wroteDescriptor = false;
    std::vector<DescriptorItem> written;  // what the plug-in wrote back
    uint64_t peakBufferBytes = 0;   // the most the Buffer suite had out at once
    int refusedBuffers = 0;         // Buffer-suite requests the host could not serve
    uint64_t largestRefused = 0;    // the largest of them (bytes)
    bool largestOverBudget = false; // it was beyond bufferBudget (else the system refused it)
    uint64_t takenWhenRefused = 0;  // what the Buffer suite had out when it was refused
    uint64_t mappedWhenRefused = 0; // options.mappedBytes() then, when the system refused it
    // The host could not get memory of its own (an image area handed out, a handle, a block
    // of the basic suite, its records): the procedure answered as out of memory.
    bool hostOutOfMemory = false;
    int suitesAcquired = 0;
    int suitesReleased = 0;
    int advanceStateCalls = 0;
    int progressCalls = 0;
    int liveHandlesAfter = 0;       // handles not disposed of at the end (the host's own excluded)
    std::string error;              // a host-side failure (not the plug-in's result)
};

// Runs the filter over the document; on success (result 0) document.pixels hold the output.
RunResult RunFilter(EntryPointFn entry, HostDocument& document, const RunOptions& options);

// Calls the About selector with an About record (the plug-in shows its About box).
int16_t RunAbout(EntryPointFn entry);

// Descriptor values in text, "RADI=40" style, as the tool prints them.
std::string FormatDescriptorValue(const DescriptorItem& item);

}  // namespace pelidorn
