// The few helpers that the compiler may call on its own in an image without a C runtime.
#include <stddef.h>

extern "C" {

// GCC turns struct zeroing and copies into these calls.
void* memset(void* destination, int value, size_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  while (count-- != 0) *out++ = static_cast<unsigned char>(value);
  return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  const auto* in = static_cast<const unsigned char*>(source);
  while (count-- != 0) *out++ = *in++;
  return destination;
}

}  // extern "C"

// Frames over a page must touch each page in turn, or they skip the stack's guard page. GCC calls
// this with the frame size in RAX and keeps every other register; it probes, it does not move RSP.
asm(R"(
        .text
        .globl ___chkstk_ms
___chkstk_ms:
        pushq   %rcx
        pushq   %rax
        cmpq    $0x1000, %rax
        leaq    24(%rsp), %rcx
        jb      2f
1:      subq    $0x1000, %rcx
        orq     $0, (%rcx)
        subq    $0x1000, %rax
        cmpq    $0x1000, %rax
        ja      1b
2:      subq    %rax, %rcx
        orq     $0, (%rcx)
        popq    %rax
        popq    %rcx
        ret
)");
