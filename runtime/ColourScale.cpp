#include "runtime/ColourScale.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace wg {
namespace {

struct Lab {
  double L, a, b;
};

double ToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double ToGamma(double c) {
  c = std::clamp(c, 0.0, 1.0);
  return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
}

// Oklab (Björn Ottosson, 2020): a space where straight lines look even.
Lab FromRgb(double r, double g, double b) {
  r = ToLinear(r), g = ToLinear(g), b = ToLinear(b);
  const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
  const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
  const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
  return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
          1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
          0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

uint32_t ToRgb(const Lab& c) {
  const double l = std::pow(c.L + 0.3963377774 * c.a + 0.2158037573 * c.b, 3);
  const double m = std::pow(c.L - 0.1055613458 * c.a - 0.0638541728 * c.b, 3);
  const double s = std::pow(c.L - 0.0894841775 * c.a - 1.2914855480 * c.b, 3);
  const double r = 4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s;
  const double g = -1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s;
  const double b = -0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s;
  auto byte = [](double v) { return static_cast<uint32_t>(std::lround(ToGamma(v) * 255)); };
  return 0xFF000000u | byte(r) << 16 | byte(g) << 8 | byte(b);
}

std::array<uint32_t, 256> MakeScale() {
  // Hues along the way; each is placed where its own lightness falls on an
  // even ramp from the first to the last, so lightness rises linearly.
  const Lab anchors[] = {FromRgb(0.10, 0.02, 0.22), FromRgb(0.17, 0.20, 0.62), FromRgb(0.05, 0.48, 0.62),
                         FromRgb(0.24, 0.68, 0.38), FromRgb(0.82, 0.80, 0.16), FromRgb(1.00, 0.98, 0.78)};
  constexpr int kAnchors = sizeof(anchors) / sizeof(anchors[0]);
  const double l0 = anchors[0].L, l1 = anchors[kAnchors - 1].L;
  std::array<uint32_t, 256> scale{};
  for (int i = 0; i < 256; ++i) {
    const double L = l0 + (l1 - l0) * i / 255.0;
    int j = 0;
    while (j + 2 < kAnchors && anchors[j + 1].L < L) ++j;
    const Lab& p = anchors[j];
    const Lab& q = anchors[j + 1];
    const double t = std::clamp((L - p.L) / (q.L - p.L), 0.0, 1.0);
    scale[static_cast<std::size_t>(i)] = ToRgb({L, p.a + (q.a - p.a) * t, p.b + (q.b - p.b) * t});
  }
  return scale;
}

}  // namespace

const std::array<uint32_t, 256>& WaterfallScale() {
  static const std::array<uint32_t, 256> scale = MakeScale();
  return scale;
}

}  // namespace wg
