// The row update of Gauss-Jordan elimination, out -= factor * in, with the best kernel for the
// processor.
#pragma once

#include <cstddef>

namespace trussel {

/// out[t] = out[t] - factor * in[t] for t in [0, count), each product rounded on its own before
/// the subtraction (never a fused multiply-add). Every kernel gives the same bits.
using SubtractKernel = void (*)(double* out, double factor, const double* in,
                                std::size_t count) noexcept;

/// The kernel for this processor (AVX2 where the processor has it, else a plain loop), chosen
/// once per process.
SubtractKernel subtract_kernel() noexcept;

}  // namespace trussel
