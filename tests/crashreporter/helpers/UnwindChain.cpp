#include "UnwindChain.h"

namespace crash_test {

__attribute__((noinline)) int unwindChainInner(ChainProbe probe, void* context, int depth) {
  volatile int guard = depth;
  const int result = probe(context);
  return result + guard;
}

__attribute__((noinline)) int unwindChainOuter(ChainProbe probe, void* context) {
  volatile int guard = 1;
  const int result = unwindChainMiddle(probe, context, guard);
  return result + guard;
}

}  // namespace crash_test
