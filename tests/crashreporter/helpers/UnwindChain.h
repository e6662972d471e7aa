#pragma once
// A chain of calls that cannot be inlined, one of them built without frame
// pointers, for comparing stack walks: outer -> middle (no frame pointer) ->
// inner -> probe.

namespace crash_test {

using ChainProbe = int (*)(void* context);

int unwindChainOuter(ChainProbe probe, void* context);
int unwindChainMiddle(ChainProbe probe, void* context, int depth);
int unwindChainInner(ChainProbe probe, void* context, int depth);

}  // namespace crash_test
