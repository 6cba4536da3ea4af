#pragma once

#include "StftConstants.h"

#include <complex>
#include <cstddef>
#include <memory>

namespace varnelle
{

/** Which transform turns a frame into its spectrum. */
enum class FftBackend
{
    juce, // juce::dsp::FFT, complex-to-complex: all fftSize bins, mirrored half included
    fftw  // FFTW's real-input transform: bins 0..numBins-1 only
};

/** The 2048-point transform of one analysis frame: forward unscaled, inverse scaled by exactly
    1/fftSize, so an untouched spectrum gives the frame back.

    Construction and destruction may plan or free transforms and take a process-wide lock;
    never do either on the audio thread. forward() and inverse() allocate nothing and take no
    lock; one object serves one thread at a time.
*/
class FrameFft
{
public:
    virtual ~FrameFft() = default;

    virtual FftBackend getBackend() const noexcept = 0;

    /** The bins forward() writes and inverse() reads: fftSize (mirror included) or numBins. */
    virtual int getNumSpectrumBins() const noexcept = 0;

    /** `frame`: fftSize real samples. `spectrum`: getNumSpectrumBins() bins. */
    virtual void forward (const float* frame, std::complex<float>* spectrum) noexcept = 0;

    /** The real part of the inverse of a conjugate-symmetric spectrum, into fftSize samples of
        `frame`. `spectrum` may be overwritten. */
    virtual void inverse (std::complex<float>* spectrum, float* frame) noexcept = 0;
};

/** Buffers of at least this alignment (bytes) let every backend work without copying. */
constexpr std::size_t frameBufferAlignment = 64;

/** Makes the transform for `backend`. If FFTW cannot plan the transform, the JUCE one is
    returned instead, so check getBackend(). Not for the audio thread. */
std::unique_ptr<FrameFft> makeFrameFft (FftBackend backend);

} // namespace varnelle
