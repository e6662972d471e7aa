#include "app/shell/CorvaneApplication.h"

namespace app {

std::shared_ptr<const platform::Bundle> CorvaneApplication::applicationMainBundle() const {
  return platform::Bundle::main();
}

std::string CorvaneApplication::applicationBundleVersionString() const {
  return applicationMainBundle()->version();
}

std::string CorvaneApplication::applicationBundleName() const { return applicationMainBundle()->name(); }

}  // namespace app
