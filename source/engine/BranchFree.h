#pragma once

#include <cstdint>
#include <cstring>

namespace varnelle::branchfree
{

// Selects written as bit operations on both values. A plain `c ? a : b` lets the optimiser move
// the arithmetic of one value into a branch (and, without -ffast-math, it then keeps the branch
// because floating-point operations may trap), which stops the loop from vectorising. Here both
// values are always computed and the result is bit for bit the one of `c ? a : b`.

inline float select (bool condition, float a, float b) noexcept
{
    std::uint32_t bitsA, bitsB;
    std::memcpy (&bitsA, &a, sizeof (bitsA));
    std::memcpy (&bitsB, &b, sizeof (bitsB));
    const std::uint32_t mask = 0u - static_cast<std::uint32_t> (condition);
    const std::uint32_t bits = (bitsA & mask) | (bitsB & ~mask);
    float result;
    std::memcpy (&result, &bits, sizeof (result));
    return result;
}

inline double select (bool condition, double a, double b) noexcept
{
    std::uint64_t bitsA, bitsB;
    std::memcpy (&bitsA, &a, sizeof (bitsA));
    std::memcpy (&bitsB, &b, sizeof (bitsB));
    const std::uint64_t mask = 0u - static_cast<std::uint64_t> (condition);
    const std::uint64_t bits = (bitsA & mask) | (bitsB & ~mask);
    double result;
    std::memcpy (&result, &bits, sizeof (result));
    return result;
}

/** std::min (a, b): b if b < a, else a. */
inline float minOf (float a, float b) noexcept
{
    return select (b < a, b, a);
}

/** std::max (a, b) and juce::jmax (a, b): b if a < b, else a. */
inline float maxOf (float a, float b) noexcept
{
    return select (a < b, b, a);
}

/** lo if v < lo, else minOf (v, hi). */
inline float clampTo (float v, float lo, float hi) noexcept
{
    return select (v < lo, lo, minOf (v, hi));
}

} // namespace varnelle::branchfree
