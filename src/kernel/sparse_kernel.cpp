// The sparse aperture kernel from a gray mask: one allocation, one pass over the mask.
#include "kernel/sparse_kernel.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "core/host.h"

namespace {

// The level of one mask sample, in single precision.
inline float maskLevel(unsigned char s) { return static_cast<float>(s * (1.0 / 255.0)); }
inline float maskLevel(unsigned short s) { return static_cast<float>(s * (1.0 / 32768.0)); }
inline float maskLevel(float s) { return s; }

template <class View>
uint32_t buildFromMask(IrisKernel* kernel, const View& mask, ov::OstrovanneHost* host) {
  using T = typename View::sample_type;
  uint32_t status = host->StatusOk();

  const uint64_t bytes = sparseKernelBufferSize(mask.width, mask.height);
  void* block = bytes <= std::numeric_limits<uint32_t>::max()
                    ? host->AllocateMemory(static_cast<uint32_t>(bytes))
                    : nullptr;
  if (block == nullptr) {
    kernel->buffer = nullptr;
    return host->StatusOutOfMemory();
  }

  const int32_t W = static_cast<int32_t>(mask.width);
  const int32_t H = static_cast<int32_t>(mask.height);
  unsigned char* base = static_cast<unsigned char*>(block);
  kernel->buffer = block;
  kernel->row_count = reinterpret_cast<int32_t*>(base);
  kernel->row_first = reinterpret_cast<int32_t*>(base + 4 * static_cast<std::ptrdiff_t>(H));
  kernel->records = reinterpret_cast<KernelDeltaRecord*>(base + 8 * static_cast<std::ptrdiff_t>(H));
  const int32_t hh = H / 2;
  kernel->half_height = hh;
  kernel->top_row = -hh;
  kernel->bottom_row = -hh;
  double sum = 0.0;
  bool seen = false;

  const int32_t halfW = W / 2;
  KernelDeltaRecord* rec = kernel->records;
  int32_t written = 0;
  for (int32_t r = 0; r < H; ++r) {
    kernel->row_first[r] = written;
    const T* row = W > 0 ? reinterpret_cast<const T*>(mask.row_bytes(r)) : nullptr;
    float p = 0.0f;
    float q = 0.0f;
    int32_t count = 0;
    for (int32_t c = 0; c < W; ++c) {
      const float v = maskLevel(row[c]);
      if (static_cast<double>(std::fabs(p - v)) > 0.002) {
        const float d = v - p;
        rec[written++] = KernelDeltaRecord{d, d, c - halfW};
        q = q + d;
        p = v;
        ++count;
      }
      sum += static_cast<double>(q);
    }
    if (count == 0) {
      if (!seen) kernel->top_row = r - hh + 1;
    } else {
      if (q != 0.0f) {
        rec[written++] = KernelDeltaRecord{-q, -q, W - halfW};
        ++count;
      }
      seen = true;
      kernel->bottom_row = r - hh;
    }
    rec[written++] = KernelDeltaRecord{0.0f, 0.0f, kKernelRowEnd};
    kernel->row_count[r] = count;

    status = host->ReportProgress(50, 100);
    if (status != host->StatusOk()) break;
  }

  // A mask without rows claims no row either.
  if (!seen && kernel->top_row <= kernel->bottom_row) kernel->bottom_row = kernel->top_row - 1;

  kernel->sum = sum;
  kernel->inv_sum = sum != 0.0 ? 1.0 / sum : 0.0;
  return status;
}

}  // namespace

uint64_t sparseKernelBufferSize(uint32_t width, uint32_t height) {
  return 48ull * height + 72ull * height * (static_cast<uint64_t>(width) + 92ull);
}

uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const ov::ImgPackedGray_U8& mask,
                                   ov::OstrovanneHost* host) {
  return buildFromMask(kernel, mask, host);
}

uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const ov::ImgPackedGray_U16& mask,
                                   ov::OstrovanneHost* host) {
  return buildFromMask(kernel, mask, host);
}

uint32_t buildSparseKernelFromMask(IrisKernel* kernel, const ov::ImgWorkGray_F1& mask,
                                   ov::OstrovanneHost* host) {
  return buildFromMask(kernel, mask, host);
}
