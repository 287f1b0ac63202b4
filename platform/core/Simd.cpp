#include "platform/core/Simd.h"

#include <atomic>

namespace simd {
namespace {

bool ProcessorHasAvx2() {
#if QUILLARC_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

std::atomic<bool> allowed{true};

}  // namespace

bool Avx2() {
    static const bool present = ProcessorHasAvx2();
    return present && allowed.load(std::memory_order_relaxed);
}

void AllowAvx2(bool allow) { allowed.store(allow, std::memory_order_relaxed); }

}  // namespace simd
