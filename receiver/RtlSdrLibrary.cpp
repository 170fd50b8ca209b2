#include "receiver/RtlSdrLibrary.h"

#include <cstring>

#include "receiver/Platform.h"

namespace wg {
namespace {

std::string Text(const char (&buf)[256]) { return std::string(buf, strnlen(buf, sizeof buf)); }

}  // namespace

std::shared_ptr<const RtlSdrLibrary> RtlSdrLibrary::Load(const std::string& file, std::string* error) {
  void* handle = platform::LoadLibraryAt(file, error);
  if (!handle) return nullptr;
  std::shared_ptr<RtlSdrLibrary> lib(new RtlSdrLibrary);
  lib->handle_ = handle;
  lib->file_ = file;
  auto& api = lib->api_;
#define WG_BIND(name) api.name = reinterpret_cast<api_rtl_sdr::name##_fn>(platform::LookUp(handle, #name));
  WG_RTLSDR_ENTRY_POINTS(WG_BIND)
#undef WG_BIND
  api.rtlsdr_set_bias_tee =
      reinterpret_cast<decltype(api.rtlsdr_set_bias_tee)>(platform::LookUp(handle, "rtlsdr_set_bias_tee"));
  return lib;
}

std::shared_ptr<const RtlSdrLibrary> RtlSdrLibrary::FromLoader() {
  if (api_rtl_sdr::Loaded()) {
    if (auto lib = Load(api_rtl_sdr::LibraryPath())) {
      // Stand-ins a test put over the loaded names are what it wants called.
      std::shared_ptr<RtlSdrLibrary> own = std::const_pointer_cast<RtlSdrLibrary>(lib);
#define WG_TAKE(name) own->api_.name = api_rtl_sdr::name;
      WG_RTLSDR_ENTRY_POINTS(WG_TAKE)
#undef WG_TAKE
      return lib;
    }
  }
  RtlSdrEntryPoints api;
  bool any = false;
#define WG_TAKE(name) any |= (api.name = api_rtl_sdr::name) != nullptr;
  WG_RTLSDR_ENTRY_POINTS(WG_TAKE)
#undef WG_TAKE
  if (!any) return nullptr;
  return FromEntryPoints(api);
}

std::shared_ptr<const RtlSdrLibrary> RtlSdrLibrary::FromEntryPoints(const RtlSdrEntryPoints& api) {
  std::shared_ptr<RtlSdrLibrary> lib(new RtlSdrLibrary);
  lib->api_ = api;
  return lib;
}

RtlSdrLibrary::~RtlSdrLibrary() { platform::FreeLibrary(handle_); }

std::vector<ListedReceiver> RtlSdrLibrary::List() const {
  std::vector<ListedReceiver> list;
  if (!api_.rtlsdr_get_device_count || !api_.rtlsdr_get_device_usb_strings) return list;
  const uint32_t count = api_.rtlsdr_get_device_count();
  // More than a USB bus can hold is a library gone wrong, not receivers.
  for (uint32_t i = 0; i < count && i < 256; ++i) {
    ListedReceiver r;
    if (api_.rtlsdr_get_device_name) {
      const char* name = api_.rtlsdr_get_device_name(i);
      r.name = name ? std::string(name, strnlen(name, 256)) : std::string();
    }
    char manufacturer[256] = {}, product[256] = {}, serial[256] = {};
    api_.rtlsdr_get_device_usb_strings(i, manufacturer, product, serial);
    r.manufacturer = Text(manufacturer);
    r.product = Text(product);
    r.serial = Text(serial);
    list.push_back(std::move(r));
  }
  return list;
}

int RtlSdrLibrary::IndexOfSerial(const std::string& serial) const {
  const auto list = List();
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].serial == serial) return static_cast<int>(i);
  return -1;
}

}  // namespace wg
