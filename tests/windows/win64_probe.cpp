#include "win64_probe.h"

#include <cstddef>

namespace quorvex_probe {

static_assert(offsetof(Frame64, fn) == 0 && offsetof(Frame64, nargs) == 8 &&
                  offsetof(Frame64, args) == 16 && offsetof(Frame64, rsp_before) == 24 &&
                  offsetof(Frame64, rsp_after) == 32 && offsetof(Frame64, gpr) == 40 &&
                  offsetof(Frame64, xmm) == 104 && offsetof(Frame64, saved_rsp) == 264,
              "the thunk below addresses Frame64 by these offsets");

const char* const kGprNames[8] = {"rbx", "rbp", "rdi", "rsi", "r12", "r13", "r14", "r15"};

extern "C" {
void qvx_win64_probe(Frame64* frame);
void qvx_win64_clobber();
// The values the thunk loads: the eight general registers, then xmm6 to
// xmm15 (two quadwords each).
extern const std::uint64_t qvx_probe64_markers[28];
}

const std::uint64_t qvx_probe64_markers[28] = {
    gpr_marker(0),    gpr_marker(1),    gpr_marker(2),    gpr_marker(3),    gpr_marker(4),
    gpr_marker(5),    gpr_marker(6),    gpr_marker(7),    xmm_marker(0, 0), xmm_marker(0, 1),
    xmm_marker(1, 0), xmm_marker(1, 1), xmm_marker(2, 0), xmm_marker(2, 1), xmm_marker(3, 0),
    xmm_marker(3, 1), xmm_marker(4, 0), xmm_marker(4, 1), xmm_marker(5, 0), xmm_marker(5, 1),
    xmm_marker(6, 0), xmm_marker(6, 1), xmm_marker(7, 0), xmm_marker(7, 1), xmm_marker(8, 0),
    xmm_marker(8, 1), xmm_marker(9, 0), xmm_marker(9, 1)};

// Saves the nonvolatile registers, copies the arguments to a 16-byte aligned
// area (the first four also into rcx, rdx, r8 and r9; their slots are the
// home area), loads the markers and calls.  The frame's address is kept in
// memory across the call, since every register the callee must preserve
// holds a marker at that time.  qvx_win64_clobber is a callee that breaks
// the convention (it changes r12 and xmm9), for checking the probe itself.
asm(R"(
    .text
    .globl qvx_win64_probe
    .def qvx_win64_probe; .scl 2; .type 32; .endef
qvx_win64_probe:
    pushq %rbp
    pushq %rbx
    pushq %rdi
    pushq %rsi
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $168, %rsp
    movdqu %xmm6, 0(%rsp)
    movdqu %xmm7, 16(%rsp)
    movdqu %xmm8, 32(%rsp)
    movdqu %xmm9, 48(%rsp)
    movdqu %xmm10, 64(%rsp)
    movdqu %xmm11, 80(%rsp)
    movdqu %xmm12, 96(%rsp)
    movdqu %xmm13, 112(%rsp)
    movdqu %xmm14, 128(%rsp)
    movdqu %xmm15, 144(%rsp)
    movq %rcx, qvx_probe64_frame(%rip)
    movq %rsp, 264(%rcx)
    movq 8(%rcx), %r10
    movq 16(%rcx), %r11
    movq %r10, %rax
    cmpq $4, %rax
    jae 1f
    movq $4, %rax
1:  shlq $3, %rax
    subq %rax, %rsp
    andq $-16, %rsp
    xorl %eax, %eax
2:  cmpq %r10, %rax
    jae 3f
    movq (%r11,%rax,8), %rdx
    movq %rdx, (%rsp,%rax,8)
    incq %rax
    jmp 2b
3:  movq %rsp, 24(%rcx)
    movq 0(%rcx), %rax
    leaq qvx_probe64_markers(%rip), %r11
    movq 0(%r11), %rbx
    movq 8(%r11), %rbp
    movq 16(%r11), %rdi
    movq 24(%r11), %rsi
    movq 32(%r11), %r12
    movq 40(%r11), %r13
    movq 48(%r11), %r14
    movq 56(%r11), %r15
    movdqu 64(%r11), %xmm6
    movdqu 80(%r11), %xmm7
    movdqu 96(%r11), %xmm8
    movdqu 112(%r11), %xmm9
    movdqu 128(%r11), %xmm10
    movdqu 144(%r11), %xmm11
    movdqu 160(%r11), %xmm12
    movdqu 176(%r11), %xmm13
    movdqu 192(%r11), %xmm14
    movdqu 208(%r11), %xmm15
    movq 0(%rsp), %rcx
    movq 8(%rsp), %rdx
    movq 16(%rsp), %r8
    movq 24(%rsp), %r9
    callq *%rax
    movq qvx_probe64_frame(%rip), %rax
    movq %rsp, 32(%rax)
    movq %rbx, 40(%rax)
    movq %rbp, 48(%rax)
    movq %rdi, 56(%rax)
    movq %rsi, 64(%rax)
    movq %r12, 72(%rax)
    movq %r13, 80(%rax)
    movq %r14, 88(%rax)
    movq %r15, 96(%rax)
    movdqu %xmm6, 104(%rax)
    movdqu %xmm7, 120(%rax)
    movdqu %xmm8, 136(%rax)
    movdqu %xmm9, 152(%rax)
    movdqu %xmm10, 168(%rax)
    movdqu %xmm11, 184(%rax)
    movdqu %xmm12, 200(%rax)
    movdqu %xmm13, 216(%rax)
    movdqu %xmm14, 232(%rax)
    movdqu %xmm15, 248(%rax)
    movq 264(%rax), %rsp
    movdqu 0(%rsp), %xmm6
    movdqu 16(%rsp), %xmm7
    movdqu 32(%rsp), %xmm8
    movdqu 48(%rsp), %xmm9
    movdqu 64(%rsp), %xmm10
    movdqu 80(%rsp), %xmm11
    movdqu 96(%rsp), %xmm12
    movdqu 112(%rsp), %xmm13
    movdqu 128(%rsp), %xmm14
    movdqu 144(%rsp), %xmm15
    addq $168, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rsi
    popq %rdi
    popq %rbx
    popq %rbp
    ret

    .globl qvx_win64_clobber
    .def qvx_win64_clobber; .scl 2; .type 32; .endef
qvx_win64_clobber:
    xorl %r12d, %r12d
    pxor %xmm9, %xmm9
    ret

    .bss
    .align 8
qvx_probe64_frame:
    .space 8
    .text
)");

void call(Frame64& frame) { qvx_win64_probe(&frame); }

void* clobbering_callee() { return reinterpret_cast<void*>(&qvx_win64_clobber); }

}  // namespace quorvex_probe
