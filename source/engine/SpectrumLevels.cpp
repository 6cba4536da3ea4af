#include "SpectrumLevels.h"

#include "BranchFree.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace varnelle
{
namespace
{
namespace bf = branchfree;

constexpr int chunkSize = 256;
constexpr float edgeBinScale = 1.0f / 2048.0f; // bins 0 and 1024
constexpr float binScale = 1.0f / 1024.0f;

// x = 2^exponent · f with f in [sqrt(1/2), sqrt(2)), for a positive normal float.
VARNELLE_KERNEL_INLINE float splitPositive (float x, std::int32_t& exponent) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &x, sizeof (bits));
    const std::uint32_t offset = bits - 0x3f3504f3u; // bits of sqrt(1/2)
    exponent = static_cast<std::int32_t> (offset) >> 23;
    const std::uint32_t mantissaBits = bits - (offset & 0xff800000u);
    float f;
    std::memcpy (&f, &mantissaBits, sizeof (f));
    return f;
}

// log10 of a positive normal float (or +inf): x = 2^k · f with f in [sqrt(1/2), sqrt(2)), and
// ln f = 2 atanh(s), s = (f − 1) / (f + 1), |s| < 0.172, from its series to s^15 (truncation
// below 1e-13 relative), all in double. Every step is plain arithmetic on one lane, so loops
// over it vectorise.
VARNELLE_KERNEL_INLINE float log10Positive (float x) noexcept
{
    constexpr double ln2 = 0.69314718055994530942;
    constexpr double invLn10 = 0.43429448190325182765;

    std::int32_t exponent;
    const float f = splitPositive (x, exponent);

    const double r = (double)f - 1.0; // exact
    const double s = r / (2.0 + r);
    const double z = s * s;
    const double series =
        1.0 + z * (1.0 / 3.0 +
                   z * (1.0 / 5.0 +
                        z * (1.0 / 7.0 + z * (1.0 / 9.0 + z * (1.0 / 11.0 + z * (1.0 / 13.0 + z / 15.0))))));
    const double lnX = (double)exponent * ln2 + 2.0 * s * series;
    const float result = (float)(lnX * invLn10);
    return bf::select (x == std::numeric_limits<float>::infinity(), x, result); // log10 (+inf) = +inf
}

// The same decomposition in single precision, eight lanes to a vector: the series to s^9
// (truncation below 1e-9 relative) and ln 2 split in two, so that e · ln 2 adds no rounding
// of its own. Within a few ulp of the correctly rounded value.
VARNELLE_KERNEL_INLINE float log10PositiveSingle (float x) noexcept
{
    constexpr float ln2High = 0.693359375f; // 8 significant bits: e · ln2High is exact
    constexpr float ln2Low = -2.12194440e-4f;
    constexpr float invLn10 = 0.434294481903f;

    std::int32_t exponent;
    const float f = splitPositive (x, exponent);

    const float r = f - 1.0f; // exact
    const float s = r / (2.0f + r);
    const float z = s * s;
    const float series = 1.0f + z * (1.0f / 3.0f + z * (1.0f / 5.0f + z * (1.0f / 7.0f + z * (1.0f / 9.0f))));
    const float e = (float)exponent;
    const float lnX = e * ln2High + (e * ln2Low + 2.0f * s * series);
    return bf::select (x == std::numeric_limits<float>::infinity(), x, lnX * invLn10); // log10 (+inf) = +inf
}

// binLevelDb's rule from the magnitude (|X| as hypotf gives it, up to rounding) onwards.
VARNELLE_KERNEL_INLINE float levelFromMagnitude (float magnitude, float scale, float floorDb) noexcept
{
    const float m = magnitude * scale + 1.0e-9f;
    const float db = 20.0f * log10PositiveSingle (m);
    return bf::select (m > 0.0f, bf::maxOf (db, floorDb), floorDb);
}
} // namespace

void computeLog10 (const float* in, int count, float* out) noexcept
{
    for (int i = 0; i < count; ++i)
        out[i] = log10Positive (in[i]);
}

namespace
{
VARNELLE_KERNEL_INLINE void levelsKernel (const std::complex<float>* spectrum, int count, float floorDb,
                                          float* out) noexcept
{
    // std::complex<float> arrays may be read as interleaved float pairs.
    const float* interleaved = reinterpret_cast<const float*> (spectrum);
    constexpr float infinity = std::numeric_limits<float>::infinity();

    alignas (64) float squares[chunkSize];
    alignas (64) float magnitudes[chunkSize];

    for (int start = 0; start < count; start += chunkSize)
    {
        const int n = std::min (chunkSize, count - start);
        const float* p = interleaved + 2 * start;

        // |X| as sqrt (re² + im²) in single precision: within an ulp or so of hypotf, which rounds
        // once. An infinite real or imaginary value gives infinity even next to a NaN.
        for (int j = 0; j < n; ++j)
        {
            const float re = p[2 * j], im = p[2 * j + 1];
            const float sum = re * re + im * im;
            const bool infinite = ((int)(std::abs (re) == infinity) | (int)(std::abs (im) == infinity)) != 0;
            squares[j] = bf::select (infinite, infinity, sum);
        }

        // Built without errno semantics, so this loop vectorises (see CMakeLists.txt).
        for (int j = 0; j < n; ++j)
            magnitudes[j] = std::sqrt (squares[j]);

        float* __restrict levels = out + start;
        for (int j = 0; j < n; ++j)
            levels[j] = levelFromMagnitude (magnitudes[j], binScale, floorDb);

        // Bins 0 and 1024 have no mirror, so their scale is half.
        if (start == 0)
            levels[0] = levelFromMagnitude (magnitudes[0], edgeBinScale, floorDb);
        if (start <= fftSize / 2 && fftSize / 2 < start + n)
            levels[fftSize / 2 - start] =
                levelFromMagnitude (magnitudes[fftSize / 2 - start], edgeBinScale, floorDb);
    }
}

#if VARNELLE_HAS_AVX2_KERNELS
VARNELLE_AVX2_KERNEL void levelsKernelAvx2 (const std::complex<float>* spectrum, int count, float floorDb,
                                            float* out) noexcept
{
    levelsKernel (spectrum, count, floorDb, out);
}
#endif
} // namespace

void computeLevelsDb (const std::complex<float>* spectrum, int count, float floorDb, float* out,
                      KernelVariant variant) noexcept
{
#if VARNELLE_HAS_AVX2_KERNELS
    if (variant == KernelVariant::avx2)
    {
        levelsKernelAvx2 (spectrum, count, floorDb, out);
        return;
    }
#endif
    (void)variant;
    levelsKernel (spectrum, count, floorDb, out);
}

namespace
{
VARNELLE_KERNEL_INLINE void decibelsKernel (const float* gains, int count, float* out) noexcept
{
    for (int i = 0; i < count; ++i)
        out[i] = 20.0f * log10PositiveSingle (gains[i]);
}

#if VARNELLE_HAS_AVX2_KERNELS
VARNELLE_AVX2_KERNEL void decibelsKernelAvx2 (const float* gains, int count, float* out) noexcept
{
    decibelsKernel (gains, count, out);
}
#endif
} // namespace

void computeGainsDb (const float* gains, int count, float* out, KernelVariant variant) noexcept
{
#if VARNELLE_HAS_AVX2_KERNELS
    if (variant == KernelVariant::avx2)
    {
        decibelsKernelAvx2 (gains, count, out);
        return;
    }
#endif
    (void)variant;
    decibelsKernel (gains, count, out);
}

} // namespace varnelle
