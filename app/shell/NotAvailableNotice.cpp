#include "app/shell/NotAvailableNotice.h"

#include "foundation/CVNLogController.h"

namespace app {

bool NotAvailableNotice::note() {
  if (noted_.exchange(true)) return false;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(2, false, kNotAvailableFormat, what_.c_str());
  return true;
}

}  // namespace app
