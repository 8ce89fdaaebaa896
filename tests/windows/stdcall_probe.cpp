#include "stdcall_probe.h"

#include <cstddef>

namespace quorvex_probe {

static_assert(offsetof(Frame, fn) == 0 && offsetof(Frame, nargs) == 4 &&
                  offsetof(Frame, args) == 8 && offsetof(Frame, misalign) == 12 &&
                  offsetof(Frame, esp_before) == 16 && offsetof(Frame, esp_after) == 20 &&
                  offsetof(Frame, ebx) == 24 && offsetof(Frame, esi) == 28 &&
                  offsetof(Frame, edi) == 32 && offsetof(Frame, ebp) == 36 &&
                  offsetof(Frame, saved_esp) == 40,
              "the thunk below addresses Frame by these offsets");

extern "C" void qvx_stdcall_probe(Frame* frame);

// cdecl thunk.  The frame's address is kept in memory across the call, since
// every register the callee must preserve holds a marker at that time.
asm(R"(
    .text
    .globl _qvx_stdcall_probe
    .def _qvx_stdcall_probe; .scl 2; .type 32; .endef
_qvx_stdcall_probe:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%esp), %eax
    movl %esp, 40(%eax)
    movl %eax, _qvx_probe_frame
    andl $-16, %esp
    subl 12(%eax), %esp
    movl 4(%eax), %ecx
    movl 8(%eax), %edx
    movl %ecx, %ebx
    shll $2, %ebx
    subl %ebx, %esp
    andl $-16, %esp
    addl %ebx, %esp
    subl 12(%eax), %esp
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  movl %esp, 16(%eax)
    movl 0(%eax), %eax
    movl $0x1B0B1B0B, %ebx
    movl $0x5E5E5E5E, %esi
    movl $0xD1D1D1D1, %edi
    movl $0xEBEBEBEB, %ebp
    call *%eax
    movl _qvx_probe_frame, %eax
    movl %esp, 20(%eax)
    movl %ebx, 24(%eax)
    movl %esi, 28(%eax)
    movl %edi, 32(%eax)
    movl %ebp, 36(%eax)
    movl 40(%eax), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .bss
    .align 4
_qvx_probe_frame:
    .space 4
    .text
)");

void call(Frame& frame) { qvx_stdcall_probe(&frame); }

}  // namespace quorvex_probe
