#pragma once

#include <cstdint>

namespace varnelle
{

// Fixed sizes of the STFT: a 2048-point frame every 512 samples (overlap 4).
constexpr int fftOrder = 11;
constexpr int fftSize = 1 << fftOrder;
constexpr int hopSize = 512;
constexpr int numBins = fftSize / 2 + 1;
constexpr int accumulatorSize = 16384;
constexpr int latencySamples = fftSize;
constexpr int numDisplayBins = 1024;
constexpr double defaultSampleRate = 44100.0;

} // namespace varnelle
