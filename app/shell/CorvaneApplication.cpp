#include "app/shell/CorvaneApplication.h"

#include <chrono>
#include <cstdlib>
#include <cxxabi.h>
#include <fstream>
#include <typeinfo>

#include "app/shell/RegisteredDefaults.h"
#include "app/shell/TelemetryStart.h"
#include "foundation/CVNLogController.h"
#include "platform/Files.h"
#include "platform/UserDefaults.h"

namespace app {
namespace {

// "<type>: <text>" of an exception, the type demangled.
std::string describeException(const std::exception_ptr& exception) {
  std::string description = "unknown exception";
  try {
    std::rethrow_exception(exception);
  } catch (...) {
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
      int status = 0;
      char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
      description = status == 0 && demangled ? demangled : type->name();
      std::free(demangled);
    }
    try {
      throw;
    } catch (const std::exception& error) {
      description += std::string(": ") + error.what();
    } catch (...) {
    }
  }
  return description;
}

}  // namespace

std::shared_ptr<const platform::Bundle> CorvaneApplication::applicationMainBundle() const {
  return platform::Bundle::main();
}

std::string CorvaneApplication::applicationBundleVersionString() const {
  return applicationMainBundle()->version();
}

std::string CorvaneApplication::applicationBundleName() const { return applicationMainBundle()->name(); }

platform::Dictionary CorvaneApplication::applicationInformationForSupport() const {
  platform::Dictionary information{{"bundleName", applicationBundleName()},
                                   {"bundleVersion", applicationBundleVersionString()}};
  if (auto version = macOSVersionString()) information["macOSVersionString"] = *version;
  const std::optional<std::uint32_t> code = applicationOSType();
  information["fourChar"] = code ? stringFromFourCharCode(*code) : std::string("????");
  return information;
}

std::optional<std::string> CorvaneApplication::macOSVersionString(const std::filesystem::path& osRelease) {
  std::ifstream file(osRelease);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("VERSION_ID=", 0) != 0) continue;
    std::string value = line.substr(11);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (value.empty()) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::string CorvaneApplication::stringFromFourCharCode(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((code >> shift) & 0xFF);
    if (c == '\0') break;  // "%4.4s" stops at a zero byte
    text += c;
  }
  return text;
}

std::vector<std::filesystem::path> VantelioZiraApplicationAnswers::supportFilePathsWithDate(
    std::chrono::system_clock::time_point) const {
  const std::filesystem::path documents = platform::userDocumentsFolder();
  if (documents.empty()) return {};
  return {documents / (applicationBundleName() + " Local DataSource")};
}

std::optional<std::string> CorvaneApplication::applicationDirAradedIdentifier() const {
  return dirAradedIdentifier(platform::UserDefaults::standard());
}

void CorvaneApplication::reportException(const std::exception_ptr& exception) {
  if (!exception) return;
  foundation::CVNLogController& log = foundation::CVNLogController::sharedLogController();
  log.logMessageWithLevel(0, false, "Exception in an event handler: " + describeException(exception));
  if (platform::UserDefaults::standard().boolForKey(kCrashOnExceptionsKey)) {
    // The line must reach the file before the process ends.
    (void)log.flush(std::chrono::seconds(2));
    std::abort();
  }
}

}  // namespace app
