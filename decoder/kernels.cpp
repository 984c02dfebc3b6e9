// Kernel set selection: once, at static initialisation, from the CPU's features.
#include "decoder/kernels.h"

namespace {
bool cpu_has_avx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}
KernelSet best_available() {
    if (cpu_has_avx2()) return KernelSet::avx2;
#if defined(__SSE2__)
    return KernelSet::sse2;  // part of x86-64's baseline
#else
    return KernelSet::reference;
#endif
}
KernelSet g_active = best_available();

bool cpu_has_fast_bmi2() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi2") ||
        !__builtin_cpu_supports("popcnt"))
        return false;
    // Families 15h and 17h (up to Zen 2) run pdep/pext in microcode.
    return !(__builtin_cpu_is("amdfam15h") || __builtin_cpu_is("amdfam17h"));
#else
    return false;
#endif
}
EzwScan g_ezw_scan = cpu_has_fast_bmi2() ? EzwScan::avx2_bmi2 : EzwScan::plain;
}  // namespace

KernelSet active_kernel_set() {
    return g_active;
}

bool kernel_set_available(KernelSet set) {
    switch (set) {
        case KernelSet::reference:
            return true;
#if defined(__SSE2__)
        case KernelSet::sse2:
            return true;
#endif
        case KernelSet::avx2:
            return cpu_has_avx2();
        default:
            return false;
    }
}

void select_kernel_set(KernelSet set) {
    g_active = kernel_set_available(set) ? set : KernelSet::reference;
}

const char* kernel_set_name(KernelSet set) {
    switch (set) {
        case KernelSet::reference:
            return "reference";
        case KernelSet::sse2:
            return "sse2";
        case KernelSet::avx2:
            return "avx2";
    }
    return "unknown";
}

EzwScan active_ezw_scan() {
    return g_ezw_scan;
}

bool ezw_scan_available(EzwScan scan) {
    return scan == EzwScan::plain || (scan == EzwScan::avx2_bmi2 && cpu_has_fast_bmi2());
}

void select_ezw_scan(EzwScan scan) {
    g_ezw_scan = ezw_scan_available(scan) ? scan : EzwScan::plain;
}

const char* ezw_scan_name(EzwScan scan) {
    switch (scan) {
        case EzwScan::plain:
            return "plain";
        case EzwScan::avx2_bmi2:
            return "avx2_bmi2";
    }
    return "unknown";
}
