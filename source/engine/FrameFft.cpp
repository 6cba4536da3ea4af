#include "FrameFft.h"

#include <juce_dsp/juce_dsp.h>

#include <fftw3.h>

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace varnelle
{
namespace
{
class JuceFrameFft final : public FrameFft
{
public:
    JuceFrameFft() : timeBuffer ((size_t)fftSize) {}

    FftBackend getBackend() const noexcept override { return FftBackend::juce; }
    int getNumSpectrumBins() const noexcept override { return fftSize; }

    void forward (const float* frame, std::complex<float>* spectrum) noexcept override
    {
        for (int k = 0; k < fftSize; ++k)
            timeBuffer[(size_t)k] = {frame[k], 0.0f};
        fft.perform (timeBuffer.data(), spectrum, false);
    }

    void inverse (std::complex<float>* spectrum, float* frame) noexcept override
    {
        // JUCE scales the inverse by 1/fftSize itself; the imaginary part is discarded.
        fft.perform (spectrum, timeBuffer.data(), true);
        for (int k = 0; k < fftSize; ++k)
            frame[k] = timeBuffer[(size_t)k].real();
    }

private:
    juce::dsp::FFT fft{fftOrder};
    std::vector<std::complex<float>> timeBuffer;
};

// FFTW's planner, plan destruction and its allocator share global state and are not
// thread-safe: every call other than fftwf_execute_* goes through this lock. Only
// constructors and destructors take it, never the audio thread.
std::mutex& fftwPlannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

// FFTW keeps its planner's memory (solution tables, twiddle factors) in static state for the
// life of its library. When a host unloads this plug-in and nothing else uses FFTW, the system
// would unload FFTW with it and that memory would be lost, some 160 KB on every load cycle.
// Keeping FFTW in the process once it has been used lets the next load reuse it instead. Our
// own library still unloads.
void keepLibraryLoaded ([[maybe_unused]] void* functionInLibrary)
{
#if JUCE_LINUX || JUCE_BSD || JUCE_MAC
    Dl_info library{}, ours{};
    if (::dladdr (functionInLibrary, &library) == 0 || library.dli_fname == nullptr)
        return;

    // FFTW linked statically lives in our own library, which must stay unloadable.
    if (::dladdr (reinterpret_cast<void*> (&keepLibraryLoaded), &ours) != 0 &&
        ours.dli_fbase == library.dli_fbase)
        return;

    ::dlopen (library.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
#endif
}

// FFTW's own record of the fastest plans for the engine's two transforms (2048-point real
// forward and inverse, aligned, out of place), found once with FFTW_PATIENT by FFTW 3.3.10 on
// an x86-64 machine with AVX2: about a quarter faster than the estimated plans. Another FFTW
// version, or a CPU without the codelets it names, ignores it. Other transforms in the
// process (the host's) are not affected.
constexpr const char* transformWisdom =
    R"((fftw-3.3.10 fftwf_wisdom #x9e7d4dee #xdb14fed1 #x34bf76a4 #xeb6e8fdf
  (fftwf_codelet_n2bv_32_avx 0 #x10048 #x10048 #x0 #x9eb2edbf #x922114ae #xb3ba36b9 #x31dd942c)
  (fftwf_codelet_r2cb_2 2 #x10048 #x10048 #x0 #xbf76898c #x7d78c8ce #x8377740c #x9d79896b)
  (fftwf_codelet_t2fv_4_avx 0 #x11048 #x11048 #x0 #xb0bde699 #x3baa1ac0 #xdbbed5b2 #x3b1456c3)
  (fftwf_dft_vrank_geq1_register 0 #x11048 #x11048 #x0 #x1d5f8951 #x83ff8a7f #x97795bcc #x27178c7e)
  (fftwf_codelet_t2bv_32_avx 0 #x10048 #x10048 #x0 #xd86f0fcc #x804581bb #x5ccfdfba #x14108c49)
  (fftwf_codelet_hc2cfdftv_8_sse2 0 #x11048 #x11048 #x0 #xc447d79d #x3bb36c12 #x2e7c8386 #xc241521c)
  (fftwf_codelet_hc2cbdftv_2_sse2 0 #x10048 #x10048 #x0 #x1f5f22d9 #xed218381 #x10c9c094 #xe9e7bb90)
  (fftwf_codelet_n2fv_64_avx 0 #x11048 #x11048 #x0 #xdae94766 #xa548e347 #x8a9a261b #xff2066cd)
  (fftwf_codelet_r2cfII_8 2 #x11048 #x11048 #x0 #x9b71d905 #x7d7faf81 #x09c45860 #x2a522386)
  (fftwf_codelet_r2cbIII_2 2 #x10048 #x10048 #x0 #xc266d7ae #xcc604c28 #xabefc5b9 #x5c765009)
  (fftwf_codelet_r2cf_8 2 #x11048 #x11048 #x0 #xa8e723ad #x5577b756 #x19ace181 #xf0b6f4b2)
))";

// FFTW's planner is one per process, and the host or other plug-ins (Ardour uses FFTW) may
// plan on their own threads while we plan on ours; our mutex only orders our own calls. FFTW
// then takes its own lock around every planner call. Its threads library installs that lock
// as hooks inside FFTW, so both libraries stay loaded: hooks into an unloaded library would
// crash the next planner call anywhere in the process. Call with the planner mutex held.
void prepareFftwForThisProcess()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    keepLibraryLoaded (reinterpret_cast<void*> (&fftwf_execute));
    keepLibraryLoaded (reinterpret_cast<void*> (&fftwf_make_planner_thread_safe));
    fftwf_make_planner_thread_safe();
    fftwf_import_wisdom_from_string (transformWisdom);
}

bool isFftwAligned (const void* p) noexcept
{
    return fftwf_alignment_of (const_cast<float*> (static_cast<const float*> (p))) == 0;
}

/** Real-input transform: r2c forward (unscaled), c2r inverse followed by an exact 1/2048
    (a power of two). The plans are made for aligned, out-of-place arrays; callers' arrays
    of the same alignment are used directly, others go through the plan's own arrays. */
class FftwFrameFft final : public FrameFft
{
public:
    FftwFrameFft()
    {
        const std::lock_guard<std::mutex> lock (fftwPlannerMutex());
        prepareFftwForThisProcess();
        frameData = fftwf_alloc_real ((size_t)fftSize);
        spectrumData = fftwf_alloc_complex ((size_t)numBins);
        if (frameData == nullptr || spectrumData == nullptr)
            return;

        // Measuring would take a third of a second per process and could pick another
        // algorithm each time (other rounding, so renders would not repeat exactly): the plans
        // come from the recorded wisdom, or, where it does not apply, from FFTW's estimate.
        forwardPlan =
            fftwf_plan_dft_r2c_1d (fftSize, frameData, spectrumData, FFTW_PATIENT | FFTW_WISDOM_ONLY);
        if (forwardPlan == nullptr)
            forwardPlan = fftwf_plan_dft_r2c_1d (fftSize, frameData, spectrumData, FFTW_ESTIMATE);
        inversePlan =
            fftwf_plan_dft_c2r_1d (fftSize, spectrumData, frameData, FFTW_PATIENT | FFTW_WISDOM_ONLY);
        if (inversePlan == nullptr)
            inversePlan = fftwf_plan_dft_c2r_1d (fftSize, spectrumData, frameData, FFTW_ESTIMATE);
    }

    ~FftwFrameFft() override
    {
        const std::lock_guard<std::mutex> lock (fftwPlannerMutex());
        if (forwardPlan != nullptr)
            fftwf_destroy_plan (forwardPlan);
        if (inversePlan != nullptr)
            fftwf_destroy_plan (inversePlan);
        fftwf_free (frameData);
        fftwf_free (spectrumData);
    }

    bool isUsable() const noexcept { return forwardPlan != nullptr && inversePlan != nullptr; }

    FftBackend getBackend() const noexcept override { return FftBackend::fftw; }
    int getNumSpectrumBins() const noexcept override { return numBins; }

    void forward (const float* frame, std::complex<float>* spectrum) noexcept override
    {
        if (isFftwAligned (frame) && isFftwAligned (spectrum))
        {
            // r2c leaves its input untouched, so the const_cast never leads to a write.
            fftwf_execute_dft_r2c (forwardPlan, const_cast<float*> (frame), asFftw (spectrum));
            return;
        }
        std::copy (frame, frame + fftSize, frameData);
        fftwf_execute (forwardPlan);
        std::copy (spectrumArray(), spectrumArray() + numBins, spectrum);
    }

    void inverse (std::complex<float>* spectrum, float* frame) noexcept override
    {
        if (isFftwAligned (frame) && isFftwAligned (spectrum))
        {
            fftwf_execute_dft_c2r (inversePlan, asFftw (spectrum), frame);
        }
        else
        {
            std::copy (spectrum, spectrum + numBins, spectrumArray());
            fftwf_execute (inversePlan);
            std::copy (frameData, frameData + fftSize, frame);
        }

        constexpr float scale = 1.0f / (float)fftSize;
        for (int k = 0; k < fftSize; ++k)
            frame[k] *= scale;
    }

private:
    // std::complex<float> is layout-compatible with fftwf_complex (float[2]).
    static fftwf_complex* asFftw (std::complex<float>* p) noexcept
    {
        return reinterpret_cast<fftwf_complex*> (p);
    }
    std::complex<float>* spectrumArray() const noexcept
    {
        return reinterpret_cast<std::complex<float>*> (spectrumData);
    }

    float* frameData = nullptr;
    fftwf_complex* spectrumData = nullptr;
    fftwf_plan forwardPlan = nullptr;
    fftwf_plan inversePlan = nullptr;
};
} // namespace

std::unique_ptr<FrameFft> makeFrameFft (FftBackend backend)
{
    if (backend == FftBackend::fftw)
    {
        auto fftw = std::make_unique<FftwFrameFft>();
        if (fftw->isUsable())
            return fftw;
    }
    return std::make_unique<JuceFrameFft>();
}

} // namespace varnelle
