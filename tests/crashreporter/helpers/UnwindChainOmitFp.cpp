// Built without frame pointers: the walk must cross this frame by its
// call-frame information alone.
#include "UnwindChain.h"

namespace crash_test {

__attribute__((noinline)) int unwindChainMiddle(ChainProbe probe, void* context, int depth) {
  volatile int guard = depth;
  const int result = unwindChainInner(probe, context, guard + 1);
  return result + guard;
}

}  // namespace crash_test
