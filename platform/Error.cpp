#include "platform/Error.h"

namespace platform {

std::string Error::describe() const {
  return domain + " (" + std::to_string(code) + "): " + localizedDescription;
}

}  // namespace platform
