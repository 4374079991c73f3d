#pragma once

namespace pelorin::engine::local {

// glibc maps every block above its threshold afresh from the kernel and zeroes its pages. The
// reconstruction makes and drops image-sized blocks by the thousand, in our own steps and in
// COLMAP's, so these keep them on the heap and give the heap back only past a few of them.
inline constexpr int heapMapThresholdBytes = 32 << 20;
inline constexpr int heapTrimThresholdBytes = 64 << 20;

}  // namespace pelorin::engine::local
