#include "telemetry/services/crashes/DRTLCrashesUtil.h"

#include <mutex>

#include "telemetry/core/DRTLUtility.h"

namespace telemetry::crashes {
namespace {

std::string folderMadeOnce(std::once_flag& once, const char* component) {
  std::call_once(once, [component] { core::DRTLUtility::createDirectoryForPathComponent(std::string(component)); });
  return component;
}

}  // namespace

std::string DRTLCrashesUtil::crashesDir() {
  static std::once_flag once;
  return folderMadeOnce(once, "crashes");
}

std::string DRTLCrashesUtil::logBufferDir() {
  static std::once_flag once;
  return folderMadeOnce(once, "crasheslogbuffer");
}

std::string DRTLCrashesUtil::wrapperExceptionsDir() {
  static std::once_flag once;
  return folderMadeOnce(once, "crasheswrapperexceptions");
}

}  // namespace telemetry::crashes
