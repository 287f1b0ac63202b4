// Which vector units the filters' hand-written kernels may use. Every
// kernel written for a wider unit has a plain twin that gives the same
// bytes; the wider one runs only where the processor has the unit.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLARC_X86 1
// Marks a function compiled for AVX2 and FMA; call it only where simd::Avx2().
#define QUILLARC_AVX2 __attribute__((target("avx2,fma")))
#else
#define QUILLARC_X86 0
#define QUILLARC_AVX2
#endif

// Marks a function whose flat loops over the bytes of a row the compiler
// should run on vector registers: GCC does that at -O2 only for loops of
// known length unless asked.
#if defined(__GNUC__) && !defined(__clang__)
#define QUILLARC_VECTORIZE __attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#else
#define QUILLARC_VECTORIZE
#endif

namespace simd {

// True when the processor has AVX2 and FMA and they have not been turned off.
bool Avx2();
// Turns the AVX2 kernels off (or back on where the processor has them), so
// that tests can hold the plain kernels to the same bytes.
void AllowAvx2(bool allowed);

}  // namespace simd
