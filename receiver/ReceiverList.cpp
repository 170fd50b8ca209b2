#include "receiver/ReceiverList.h"

#include "receiver/RtlSdrLibrary.h"

namespace wg {

std::optional<std::vector<std::string>> ReceiverSerials() {
  const auto library = RtlSdrLibrary::FromLoader();
  if (!library || !library->Api().rtlsdr_get_device_count || !library->Api().rtlsdr_get_device_usb_strings)
    return std::nullopt;
  std::vector<std::string> serials;
  for (ListedReceiver& r : library->List()) serials.push_back(std::move(r.serial));
  return serials;
}

std::string DescribeReceivers(const std::vector<std::string>& serials) {
  if (serials.empty()) return "none found";
  std::string text = std::to_string(serials.size()) + " found:";
  for (size_t i = 0; i < serials.size(); ++i) text += (i ? ", " : " ") + std::to_string(i) + " " + serials[i];
  return text;
}

}  // namespace wg
