// How much working storage a thread keeps from one fit to the next.
//
// Both fits keep their per-point arrays in a workspace of the calling thread,
// so that a repeated fit of the same or a smaller size allocates nothing and
// touches no fresh page.  What a thread keeps is bounded two ways:
//  - a workspace holding more than kKeepMaxBytes is freed at the end of the
//    fit (64-bit: 384 MiB, enough for 10^6 points at any degree; 32-bit
//    hosts, whose address space is small, keep at most 64 MiB);
//  - a workspace holding more than kKeepFloorBytes is freed after a fit that
//    used less than a quarter of it, so that one large fit does not leave its
//    memory with a thread that goes on with small ones.
// A freed workspace is obtained afresh by the next fit, which keeps it.
#pragma once

#include <cstddef>
#include <vector>

namespace quorvex {

inline constexpr std::size_t kKeepFloorBytes = std::size_t{64} << 20;
inline constexpr std::size_t kKeepMaxBytes =
    sizeof(void*) >= 8 ? std::size_t{384} << 20 : kKeepFloorBytes;

// Bytes of a workspace's vectors: held (their capacity) and used by the
// latest fit (their size).
struct WorkBytes {
  std::size_t held = 0, used = 0;
  template <class T>
  void add(const std::vector<T>& v) {
    held += v.capacity() * sizeof(T);
    used += v.size() * sizeof(T);
  }
};

// True when a workspace holding `held` bytes, of which the fit just made used
// `used`, stays with the thread under a cap of `cap` bytes.
inline bool KEEPWRK(std::size_t held, std::size_t used, std::size_t cap = kKeepMaxBytes) {
  if (held > cap) return false;
  return held <= kKeepFloorBytes || used >= held / 4;
}

}  // namespace quorvex
