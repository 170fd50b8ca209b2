#include "receiver/ReceiverList.h"

#include "receiver/api_rtl_sdr.h"

#include <cstring>

namespace wg {

std::optional<std::vector<std::string>> ReceiverSerials() {
  namespace api = api_rtl_sdr;
  if (!api::rtlsdr_get_device_count || !api::rtlsdr_get_device_usb_strings) return std::nullopt;
  std::vector<std::string> serials;
  const uint32_t count = api::rtlsdr_get_device_count();
  for (uint32_t i = 0; i < count && i < 256; ++i) {
    char manufacturer[256] = {}, product[256] = {}, serial[256] = {};
    api::rtlsdr_get_device_usb_strings(i, manufacturer, product, serial);
    serials.emplace_back(serial, strnlen(serial, sizeof serial));
  }
  return serials;
}

std::string DescribeReceivers(const std::vector<std::string>& serials) {
  if (serials.empty()) return "none found";
  std::string text = std::to_string(serials.size()) + " found:";
  for (size_t i = 0; i < serials.size(); ++i) text += (i ? ", " : " ") + std::to_string(i) + " " + serials[i];
  return text;
}

}  // namespace wg
