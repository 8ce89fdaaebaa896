// Calls a function through a small assembly thunk that checks what the x64
// Windows calling convention promises the caller: the stack pointer after
// the return is what it was at the call, and the callee keeps the
// nonvolatile registers rbx, rbp, rdi, rsi, r12 to r15 and xmm6 to xmm15.
// The thunk passes the first four arguments in rcx, rdx, r8 and r9 and the
// rest on the stack above the 32-byte home area, with the stack 16-byte
// aligned at the call; it loads marker values into the nonvolatile
// registers before the call and records them after.
#pragma once

#include <cstdint>

namespace quorvex_probe {

struct Frame64 {
  void* fn;                   // function to call
  std::uint64_t nargs;        // number of 8-byte arguments
  void* const* args;          // their values, in order
  std::uint64_t rsp_before;   // stack pointer at the call instruction
  std::uint64_t rsp_after;    // stack pointer right after the return
  std::uint64_t gpr[8];       // rbx, rbp, rdi, rsi, r12, r13, r14, r15 after the return
  std::uint64_t xmm[10][2];   // xmm6 .. xmm15 after the return (low, high quadword)
  std::uint64_t saved_rsp;    // the thunk's own
};

// The marker of general register k (in the order of Frame64::gpr) and of
// quadword h of xmm register 6 + k.
constexpr std::uint64_t gpr_marker(int k) {
  return 0x0B1B2B3B4B5B6B00ull + static_cast<std::uint64_t>(k) * 0x0101010101010101ull;
}
constexpr std::uint64_t xmm_marker(int k, int h) {
  return 0xC6C5C4C3C2C1C000ull + static_cast<std::uint64_t>(2 * k + h) * 0x0001000100010001ull;
}
extern const char* const kGprNames[8];

// Makes the call that `frame` describes and fills in the rest of it.
void call(Frame64& frame);

// A function that breaks the convention (it changes r12 and xmm9), for
// checking that the probe notices.
void* clobbering_callee();

}  // namespace quorvex_probe
