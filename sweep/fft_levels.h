// Spectrum of one sample block: a 4096-point windowed FFT of the block's
// interleaved I/Q bytes, turned into levels in dB with peak normalisation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wg {

constexpr int kFftSize = 4096;
// Bytes that feed one spectrum: 4096 complex samples, I and Q interleaved.
constexpr int kSpectrumBytes = 2 * kFftSize;
constexpr int kWindowType = 4;
constexpr double kMagnitudeFloor = 1e-100;
constexpr double kLevelReference = 4096.0;
constexpr double kPeakStart = -1000.0;

// The windowed radix-2 FFT, in place. N is first replaced by
// 2 * (smallest power of two >= N div 2). Window types 1..5 as in the table of
// Blackman-Harris windows and the rectangular one; any other type leaves the
// samples unwindowed, which is what the rectangular window does too.
// direction +1: forward, e^(-j2πkn/N); -1: e^(+j2πkn/N). No scaling.
void FFT(double* re, double* im, int& N, int windowType, int direction);

// Window coefficient w(i) of a window type for size N (as FFT applies it).
double WindowCoefficient(int windowType, int i, int N);

// Levels of a block, in frequency order: out[g] is FFT bin (g + 2048) mod 4096,
// so out[0] is the lowest frequency of the band and out[2048] its centre.
// The samples are the 8192 bytes that end at countRead (the block's first
// 8192 when fewer were read): real part byte 2n, imaginary part byte 2n+1.
// blockSize is the size of the buffer; it must be at least 8192.
void SpectrumOfBlock(const uint8_t* block, size_t blockSize, long countRead, double* out);

// The same computation through the plain FFT routine above, without any cached
// tables; SpectrumOfBlock gives bit-identical results.
void SpectrumOfBlockReference(const uint8_t* block, size_t blockSize, long countRead, double* out);

}  // namespace wg
