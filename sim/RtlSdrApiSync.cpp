// Synchronous reading, with the faults the environment can inject into it.
#include "sim/RtlSdrDevice.h"

#include <thread>

using namespace wg::sim;

extern "C" {

int rtlsdr_reset_buffer(rtlsdr_dev_t* dev) { return Find(dev) ? 0 : -1; }

int rtlsdr_read_sync(rtlsdr_dev_t* dev, void* buf, int len, int* n_read) {
  auto d = Find(dev);
  if (!d) return -1;
  if (n_read) *n_read = 0;
  if (!buf || len <= 0) return kUsbErrorInvalidParam;

  Fault fault = Fault::None;
  {
    std::lock_guard lock(d->settings);
    if (d->unplugged) return kUsbErrorNoDevice;
    ++d->syncReads;
    if (d->config.fault != Fault::None && d->syncReads == d->config.faultAfter + 1)
      fault = d->config.fault;
    if (fault == Fault::Unplug) d->unplugged = true;
  }
  size_t want = static_cast<size_t>(len);
  switch (fault) {
    case Fault::Error: return kUsbErrorIo;
    case Fault::Unplug:
      Unplug(d->index, d->config.replugMs);
      return kUsbErrorNoDevice;
    case Fault::Hang: {
      const uint32_t stick = d->index;
      d.reset();  // hold nothing while hanging
      // As a real stick's transfer, it ends only when the stick is pulled out.
      while (OnTheBus(stick)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return kUsbErrorNoDevice;
    }
    case Fault::Short: want = static_cast<size_t>(len / 2) & ~size_t{1}; break;
    case Fault::None: break;
  }

  const Delivery made = Deliver(*d, static_cast<uint8_t*>(buf), want);
  const bool paced = d->config.paced;
  d.reset();
  // The samples come no faster than the stick makes them.
  if (paced) std::this_thread::sleep_until(made.due);
  if (n_read) *n_read = static_cast<int>(want);
  return 0;
}

}  // extern "C"
