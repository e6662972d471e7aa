#pragma once
// The technical log from the first line of a run: the application writes its
// daily file whether or not a display is attached, in the folder the
// defaults name ("technicalLogFolderPath"; registered as
// defaultTechnicalLogFolder(), an argument "-technicalLogFolderPath PATH"
// overrides it). The folder is made when missing.
//
// Called once in main, after the defaults are registered and before the
// first message; any thread that owns the start-up.

#include "foundation/CVNLogController.h"
#include "platform/UserDefaults.h"

namespace app {

void startTechnicalLog(const platform::UserDefaults& defaults, foundation::CVNLogController& log);

}  // namespace app
