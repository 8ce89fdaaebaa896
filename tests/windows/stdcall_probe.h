// Calls a function through a small assembly thunk that checks what the
// 32-bit standard call convention promises the caller: the callee removes
// its arguments (the stack pointer after the call is what it was before they
// were pushed) and keeps ebx, esi, edi and ebp.  The thunk loads marker
// values into those four registers before the call and records them after.
#pragma once

#include <cstdint>

namespace quorvex_probe {

struct Frame {
  void* fn;                    // function to call
  std::uint32_t nargs;         // number of 4-byte arguments to push
  void* const* args;           // their values, pushed right to left
  std::uint32_t misalign;      // bytes below a 16-byte boundary at the call
  std::uint32_t esp_before;    // stack pointer at the call instruction
  std::uint32_t esp_after;     // stack pointer right after the return
  std::uint32_t ebx, esi, edi, ebp;  // the registers after the return
  std::uint32_t saved_esp;     // the thunk's own
};

constexpr std::uint32_t kEbx = 0x1B0B1B0Bu, kEsi = 0x5E5E5E5Eu, kEdi = 0xD1D1D1D1u,
                        kEbp = 0xEBEBEBEBu;

// Makes the call that `frame` describes and fills in the rest of it.
void call(Frame& frame);

}  // namespace quorvex_probe
