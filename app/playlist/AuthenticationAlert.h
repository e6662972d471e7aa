#pragma once
// The alert a playlist window shows when a locked node would be controlled
// or its playlist changed. Main thread (it runs a modal alert).

namespace app {

// True when the operator chose "Authenticate" (the window then starts its
// unlock flow), false for "Cancel".
bool operatorChoosesToAuthenticate();

}  // namespace app
