// Points a series shows without holding them: a spectrum measured in steps,
// shared with whoever measured it. X is worked out (each step's first X plus
// the point's offset in the step times the spacing), Y is kept as floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace wg {

struct TSteppedPoints {
  // Keeps the arrays below alive while a series shows them.
  std::shared_ptr<const void> owner;
  const int64_t* stepStarts = nullptr;  // X of each step's first point
  std::size_t steps = 0;
  int perStep = 0;                      // points per step
  double spacing = 0;                   // X from one point of a step to the next
  const float* levels = nullptr;        // Y, perStep per step; NaN: a gap
  // Optional: the lowest and highest Y of each block of blockPoints points of
  // a step (its last block may be shorter), in pairs, both NaN for a block
  // with a gap. Drawing takes a block that lies in one pixel column whole.
  const float* blocks = nullptr;
  int blockPoints = 0;

  std::size_t Count() const { return steps * static_cast<std::size_t>(perStep > 0 ? perStep : 0); }
  // A series longer than the points reads their last one beyond their end:
  // a sweep that lost a step still fills the series it was measured for.
  std::size_t Clamp(std::size_t i) const {
    const std::size_t n = Count();
    return i < n ? i : n - 1;
  }
  // The offset is multiplied and the start added in double, in that order:
  // the very X the sweep's own points carry.
  double X(std::size_t i) const {
    i = Clamp(i);
    const std::size_t s = i / static_cast<std::size_t>(perStep);
    return static_cast<double>(i - s * static_cast<std::size_t>(perStep)) * spacing +
           static_cast<double>(stepStarts[s]);
  }
  double Y(std::size_t i) const { return levels[Clamp(i)]; }

  // Whether step s begins more than a point's spacing past the end of the
  // step before it (a recording's sweep over two far-apart bands, a step
  // that could not be measured left out): nothing was measured between
  // them, so the trace is not drawn across. Steps that meet or overlap, as
  // a sweep's do, join.
  bool Apart(std::size_t s) const {
    return s > 0 && s < steps &&
           static_cast<double>(stepStarts[s] - stepStarts[s - 1]) > (perStep + 1) * spacing;
  }
  // Whether point i is the first of a step apart from the one before.
  bool StartsApart(std::size_t i) const {
    return perStep > 0 && i % static_cast<std::size_t>(perStep) == 0 && Apart(i / static_cast<std::size_t>(perStep));
  }
  // The first point at or after i that starts a step apart; Count() when no
  // step to come is. Going through the steps, not the points.
  std::size_t NextApart(std::size_t i) const {
    if (perStep <= 0) return Count();
    const auto per = static_cast<std::size_t>(perStep);
    for (std::size_t s = (i + per - 1) / per; s < steps; ++s)
      if (Apart(s)) return s * per;
    return Count();
  }
};

}  // namespace wg
