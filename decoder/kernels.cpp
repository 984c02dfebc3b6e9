// Kernel set selection: once, at static initialisation, from the CPU's features.
#include "decoder/kernels.h"

namespace {
KernelSet best_available() {
#if defined(__SSE2__)
    return KernelSet::sse2;  // part of x86-64's baseline
#else
    return KernelSet::reference;
#endif
}
KernelSet g_active = best_available();
}  // namespace

KernelSet active_kernel_set() { return g_active; }

bool kernel_set_available(KernelSet set) {
    return set == KernelSet::reference || set == best_available();
}

void select_kernel_set(KernelSet set) { g_active = kernel_set_available(set) ? set : KernelSet::reference; }

const char* kernel_set_name(KernelSet set) {
    switch (set) {
        case KernelSet::reference: return "reference";
        case KernelSet::sse2: return "sse2";
    }
    return "unknown";
}
