// One loaded receiver library as an object: its entry points, and the
// library itself kept loaded for as long as anything holds the object. Each
// receiver and each receiver thread holds it, so a thread left in a hung call
// can never find the library's code unmapped under it.
#pragma once

#include <rtl-sdr.h>

#include <memory>
#include <string>
#include <vector>

#include "receiver/api_rtl_sdr.h"

namespace wg {

struct RtlSdrEntryPoints {
#define WG_ENTRY_FIELD(name) api_rtl_sdr::name##_fn name = nullptr;
  WG_RTLSDR_ENTRY_POINTS(WG_ENTRY_FIELD)
#undef WG_ENTRY_FIELD
  // Outside the written list: libraries before 0.6 lack it, and the loader
  // does not require it. Without it bias-T is not offered.
  decltype(&::rtlsdr_set_bias_tee) rtlsdr_set_bias_tee = nullptr;
};

// One attached receiver as the library lists it, without opening it.
struct ListedReceiver {
  std::string name, manufacturer, product, serial;
};

class RtlSdrLibrary {
 public:
  // Loads exactly this file (an absolute path); nullptr with the system's
  // reason in `error` when it will not load. Missing entry points stay null.
  static std::shared_ptr<const RtlSdrLibrary> Load(const std::string& file, std::string* error = nullptr);
  // What the program-wide loader bound: the same file, held once more so
  // that an Unload there leaves it mapped for us; or, when it bound no file,
  // whatever entry points were put in its variables (tests' stand-ins).
  // nullptr when there are none.
  static std::shared_ptr<const RtlSdrLibrary> FromLoader();
  // Entry points with no file behind them.
  static std::shared_ptr<const RtlSdrLibrary> FromEntryPoints(const RtlSdrEntryPoints& api);

  ~RtlSdrLibrary();
  RtlSdrLibrary(const RtlSdrLibrary&) = delete;
  RtlSdrLibrary& operator=(const RtlSdrLibrary&) = delete;

  const RtlSdrEntryPoints& Api() const { return api_; }
  const std::string& File() const { return file_; }

  // The attached receivers in index order; empty when the library cannot
  // list them. Safe from any thread: the library lists through a context of
  // its own.
  std::vector<ListedReceiver> List() const;
  // The index of the receiver with this serial, if it is listed.
  int IndexOfSerial(const std::string& serial) const;

 private:
  RtlSdrLibrary() = default;
  RtlSdrEntryPoints api_;
  void* handle_ = nullptr;
  std::string file_;
};

}  // namespace wg
