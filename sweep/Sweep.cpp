#include "sweep/Sweep.h"

#include "runtime/ReleaseAside.h"

namespace wg {

std::shared_ptr<Sweep> NewSweep() {
  return std::shared_ptr<Sweep>(new Sweep, [](Sweep* s) {
    if (s->levels.capacity() * sizeof(float) + s->stepStarts.capacity() * sizeof(int64_t) < rt::kLargeBlockBytes)
      delete s;
    else
      rt::ReleaseAside(std::unique_ptr<Sweep>(s));
  });
}

}  // namespace wg
