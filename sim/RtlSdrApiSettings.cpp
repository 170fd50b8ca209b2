// Tuning, gain, sample rate, crystal and the other settings of an open
// simulated stick. They read back as the real library's do.
#include "sim/RtlSdrDevice.h"

#include <algorithm>

using namespace wg::sim;

extern "C" {

int rtlsdr_set_xtal_freq(rtlsdr_dev_t* dev, uint32_t rtl_freq, uint32_t tuner_freq) {
  auto d = Find(dev);
  if (!d) return -1;
  if (rtl_freq > 0 &&
      (rtl_freq < kXtalHz - kXtalToleranceHz || rtl_freq > kXtalHz + kXtalToleranceHz))
    return -2;
  std::lock_guard lock(d->settings);
  int r = 0;
  if (rtl_freq > 0 && d->rtlXtal != rtl_freq) {
    d->rtlXtal = rtl_freq;
    if (d->rate && SetSampleRateLocked(*d, d->rate) != 0) return -3;
  }
  if (d->tunerXtal != tuner_freq) {
    d->tunerXtal = tuner_freq == 0 ? d->rtlXtal : tuner_freq;
    if (d->freq) r = SetCenterFreqLocked(*d, d->freq);
  }
  return r;
}

int rtlsdr_get_xtal_freq(rtlsdr_dev_t* dev, uint32_t* rtl_freq, uint32_t* tuner_freq) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  if (rtl_freq) *rtl_freq = ApplyPpm(d->rtlXtal, d->ppm);
  if (tuner_freq) *tuner_freq = ApplyPpm(d->tunerXtal, d->ppm);
  return 0;
}

int rtlsdr_set_center_freq(rtlsdr_dev_t* dev, uint32_t freq) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return SetCenterFreqLocked(*d, freq);
}

uint32_t rtlsdr_get_center_freq(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->freq;
}

int rtlsdr_set_freq_correction(rtlsdr_dev_t* dev, int ppm) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  if (d->ppm == ppm) return -2;
  d->ppm = ppm;
  // Retuning applies the new correction to the tuner's synthesiser; with an
  // exact simulated crystal it changes nothing of what is received.
  if (d->freq) return SetCenterFreqLocked(*d, d->freq);
  return 0;
}

int rtlsdr_get_freq_correction(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->ppm;
}

enum rtlsdr_tuner rtlsdr_get_tuner_type(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  return d ? static_cast<enum rtlsdr_tuner>(d->tuner.type) : RTLSDR_TUNER_UNKNOWN;
}

int rtlsdr_get_tuner_gains(rtlsdr_dev_t* dev, int* gains) {
  auto d = Find(dev);
  if (!d) return -1;
  if (gains) std::copy(d->tuner.gains, d->tuner.gains + d->tuner.gainCount, gains);
  return d->tuner.gainCount;
}

int rtlsdr_set_tuner_gain(rtlsdr_dev_t* dev, int gain) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  // Setting a gain puts the R820T into manual gain.
  d->gain = gain;
  d->manualGain = true;
  return 0;
}

int rtlsdr_set_tuner_bandwidth(rtlsdr_dev_t* dev, uint32_t bw) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->bandwidth = bw;
  return 0;
}

int rtlsdr_get_tuner_gain(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->gain;
}

int rtlsdr_set_tuner_if_gain(rtlsdr_dev_t* dev, int stage, int gain) {
  (void)stage;
  (void)gain;
  // The R820T has no separately settable IF stages; the call succeeds idle.
  return Find(dev) ? 0 : -1;
}

int rtlsdr_set_tuner_gain_mode(rtlsdr_dev_t* dev, int manual) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->manualGain = manual != 0;
  return 0;
}

int rtlsdr_set_sample_rate(rtlsdr_dev_t* dev, uint32_t rate) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return SetSampleRateLocked(*d, rate);
}

uint32_t rtlsdr_get_sample_rate(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->rate;
}

int rtlsdr_set_testmode(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->testMode = on != 0;
  return 0;
}

int rtlsdr_set_agc_mode(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->agc = on != 0;
  return 0;
}

int rtlsdr_set_direct_sampling(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->directSampling = on;
  return d->freq ? SetCenterFreqLocked(*d, d->freq) : 0;
}

int rtlsdr_get_direct_sampling(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return d->directSampling;
}

int rtlsdr_set_offset_tuning(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  // The R820T tunes to a low IF already; the real library refuses it, and
  // direct sampling has no tuner to offset.
  if (!d->tuner.offsetTuning) return -2;
  std::lock_guard lock(d->settings);
  if (d->directSampling) return -3;
  d->offsetHz = on ? OffsetTuningHz(d->rate) : 0;
  return d->freq > d->offsetHz ? SetCenterFreqLocked(*d, d->freq) : 0;
}

int rtlsdr_get_offset_tuning(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return d->offsetHz != 0 ? 1 : 0;
}

int rtlsdr_set_bias_tee_gpio(rtlsdr_dev_t* dev, int gpio, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  if (gpio < 0 || gpio > 7) return -1;
  std::lock_guard lock(d->settings);
  d->biasTeeGpio = gpio;
  d->biasTeeOn = on != 0;
  return 0;
}

int rtlsdr_set_bias_tee(rtlsdr_dev_t* dev, int on) { return rtlsdr_set_bias_tee_gpio(dev, 0, on); }

}  // extern "C"
