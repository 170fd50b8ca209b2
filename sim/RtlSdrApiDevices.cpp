// The simulated sticks as the library lists, opens and closes them: the
// device list, USB strings and the configuration EEPROM. The list holds the
// sticks plugged in; a stick pulled out leaves it until it comes back.
#include "sim/RtlSdrDevice.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

using namespace wg::sim;

extern "C" {

uint32_t rtlsdr_get_device_count(void) { return static_cast<uint32_t>(PluggedSticks(true).size()); }

const char* rtlsdr_get_device_name(uint32_t index) {
  return StickAt(index, false) ? kDeviceName : "";
}

int rtlsdr_get_device_usb_strings(uint32_t index, char* manufact, char* product, char* serial) {
  const std::optional<uint32_t> stick = StickAt(index, false);
  if (!stick) return -2;
  CopyUsbString(manufact, kManufacturer);
  CopyUsbString(product, kProduct);
  CopyUsbString(serial, SerialOf(*stick));
  return 0;
}

int rtlsdr_get_index_by_serial(const char* serial) {
  if (!serial) return -1;
  const std::vector<uint32_t> sticks = PluggedSticks(false);
  if (sticks.empty()) return -2;
  for (size_t i = 0; i < sticks.size(); ++i)
    if (SerialOf(sticks[i]) == serial) return static_cast<int>(i);
  return -3;
}

int rtlsdr_open(rtlsdr_dev_t** out_dev, uint32_t index) {
  if (!out_dev) return -1;
  const std::optional<uint32_t> stick = StickAt(index, true);
  if (!stick) return -1;
  std::vector<std::string> warnings;
  Config config = ReadConfig(*stick, &warnings);
  Warn(warnings);
  if (config.openFails) return -1;

  std::vector<Emitter> scene;
  if (config.scenePath.empty()) {
    scene = DefaultScene();
  } else {
    std::vector<std::string> problems;
    std::string error;
    if (!LoadSceneFile(config.scenePath, scene, problems, error)) {
      Warn({error});
      return -1;
    }
    for (std::string& p : problems) p = config.scenePath + ": " + p;
    Warn(problems);
  }

  std::shared_ptr<rtlsdr_dev> d;
  try {
    d = std::make_shared<rtlsdr_dev>(*stick, std::move(config), std::move(scene));
  } catch (const std::bad_alloc&) {
    return kUsbErrorNoMem;
  }
  if (const int busy = Register(d); busy != 0) return busy;
  *out_dev = d.get();
  return 0;
}

int rtlsdr_close(rtlsdr_dev_t* dev) {
  std::shared_ptr<rtlsdr_dev> d = Unregister(dev);
  if (!d) return -1;
  bool fromCallback;
  {
    std::lock_guard lock(d->settings);
    fromCallback = d->asyncThread == std::this_thread::get_id();
  }
  // Stop an asynchronous reading still under way and wait for it to end,
  // unless this is its own callback: that one ends when it returns.
  int expected = kAsyncRunning;
  if (d->asyncStatus.compare_exchange_strong(expected, kAsyncCanceling)) d->asyncCancel = true;
  if (!fromCallback)
    while (d->asyncStatus.load() != kAsyncInactive)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // A stretch of samples being made finishes first.
  std::lock_guard streamLock(d->stream);
  return 0;
}

int rtlsdr_get_usb_strings(rtlsdr_dev_t* dev, char* manufact, char* product, char* serial) {
  auto d = Find(dev);
  if (!d) return -1;
  CopyUsbString(manufact, kManufacturer);
  CopyUsbString(product, kProduct);
  CopyUsbString(serial, d->serial);
  return 0;
}

int rtlsdr_write_eeprom(rtlsdr_dev_t* dev, uint8_t* data, uint8_t offset, uint16_t len) {
  auto d = Find(dev);
  if (!d) return -1;
  if (len + offset > static_cast<int>(kEepromSize)) return -2;
  if (!data && len > 0) return -1;
  std::lock_guard lock(d->settings);
  if (len > 0) std::memcpy(d->eeprom.data() + offset, data, len);
  return 0;
}

int rtlsdr_read_eeprom(rtlsdr_dev_t* dev, uint8_t* data, uint8_t offset, uint16_t len) {
  auto d = Find(dev);
  if (!d) return -1;
  if (len + offset > static_cast<int>(kEepromSize)) return -2;
  if (!data && len > 0) return -1;
  std::lock_guard lock(d->settings);
  if (len > 0) std::memcpy(data, d->eeprom.data() + offset, len);
  return 0;
}

}  // extern "C"
