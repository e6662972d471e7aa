#include "platform/UserDefaults.h"
#include "support/window/SupportCollaborators.h"

namespace support::window {

SupportDeskPages SupportDeskPages::fromSettings(const platform::UserDefaults& defaults,
                                                const ZendeskConfiguration& configuration) {
  SupportDeskPages pages;
  pages.webAddress = configuration.supportWebAddress;
  if (!pages.webAddress.empty() && pages.webAddress.back() != '/') pages.webAddress += '/';
  pages.helpCenterAddress = defaults.stringForKey("supportDeskHelpCenterAddress").value_or("");
  pages.passwordHelpAddress = defaults.stringForKey("supportDeskPasswordHelpAddress").value_or("");
  pages.agentAddress = configuration.agentAddress;
  return pages;
}

std::string SupportDeskPages::hostName() const {
  std::string host = webAddress;
  if (const auto scheme = host.find("://"); scheme != std::string::npos) host.erase(0, scheme + 3);
  if (const auto slash = host.find('/'); slash != std::string::npos) host.erase(slash);
  return host;
}

}  // namespace support::window
