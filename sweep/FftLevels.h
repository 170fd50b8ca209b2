// Spectrum of one sample block: a 4096-point windowed FFT of the block's
// interleaved I/Q bytes, turned into levels in dB against a fixed reference.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sweep/ScanLimits.h"

namespace wg {

// One transform per step.
constexpr int kFftSize = kPointsPerStep;
// Bytes that feed one spectrum: 4096 complex samples, I and Q interleaved.
constexpr int kSpectrumBytes = 2 * kFftSize;
constexpr int kWindowType = 4;
constexpr double kMagnitudeFloor = 1e-100;
constexpr double kLevelReference = kFftSize;
// Mid-scale of the receiver's unsigned bytes; subtracted before the transform
// so that the offset of the byte format does not show as a carrier.
constexpr double kByteMidScale = 127.5;

// The windowed radix-2 FFT, in place. N is first replaced by
// 2 * (smallest power of two >= N div 2). Window types 1..5 as in the table of
// Blackman-Harris windows and the rectangular one; any other type leaves the
// samples unwindowed, which is what the rectangular window does too.
// direction +1: forward, e^(-j2πkn/N); -1: e^(+j2πkn/N). No scaling.
void FFT(double* re, double* im, int& N, int windowType, int direction);

// Window coefficient w(i) of a window type for size N (as FFT applies it).
double WindowCoefficient(int windowType, int i, int N);

// The level, under the formula below without the reference, that a block of
// constant bytes 127.5 (I and Q alike) would have at its centre bin: about
// 37.2 dB for window type 4. It is subtracted from every level, so a tone
// reads the dB it read when the byte offset was the strongest bin and set the
// 0 dB mark, and the levels of different steps stay comparable.
double CentreReferenceLevel();

// The window's noise bandwidth, in bins (about 1.79 for type 4): a level
// holds the noise of that many bins' width, while a tone reads its own power.
// The power within a band of several bins is their sum divided by it.
double NoiseBandwidthBins();

// Levels of a block, in frequency order: out[g] is FFT bin (g + 2048) mod 4096,
// so out[0] is the lowest frequency of the band and out[2048] its centre.
// The samples are the 8192 bytes that end at countRead (the block's first
// 8192 when fewer were read): real part byte 2n, imaginary part byte 2n+1,
// each less 127.5. Level = 20 log10(max(|X|, 1e-100) / 4096) minus
// CentreReferenceLevel(). blockSize is the size of the buffer; at least 8192.
void SpectrumOfBlock(const uint8_t* block, size_t blockSize, long countRead, double* out);

// Bytes the averaged spectrum draws on: 8 transforms without overlap.
constexpr int kAveragedTransforms = 8;
constexpr int kAveragedBytes = kAveragedTransforms * kSpectrumBytes;

// Mean power of the 8 non-overlapping transforms of the 65536 bytes that end
// at countRead, in dB afterwards, with the window, bin order and reference of
// SpectrumOfBlock. With fewer bytes read (or a smaller buffer) it averages the
// whole 8192-byte pieces that end there, and with less than one piece it is
// SpectrumOfBlock's first-8192-bytes result.
void AveragedSpectrumOfBlock(const uint8_t* block, size_t blockSize, long countRead, double* out);

// The same computation through the plain FFT routine above, without any cached
// tables; SpectrumOfBlock gives bit-identical results.
void SpectrumOfBlockReference(const uint8_t* block, size_t blockSize, long countRead, double* out);

}  // namespace wg
