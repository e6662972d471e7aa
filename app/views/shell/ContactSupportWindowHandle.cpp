#include "app/views/shell/ContactSupportWindowHandle.h"

#include <unistd.h>

#include <QMenuBar>
#include <QStandardPaths>

#include "app/views/shell/ApplicationMenus.h"

#include "platform/Keychain.h"
#include "platform/UserDefaults.h"
#include "support/ProcessCommandRunner.h"
#include "support/SupportConfiguration.h"
#include "support/window/SupportCollaboratorAdapters.h"

namespace app::views {
namespace {

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

support::window::ContactSupportServices makeServices() {
  platform::UserDefaults& defaults = platform::UserDefaults::standard();
  const support::EnvironmentLookup environment = support::processEnvironment();
  const support::ZendeskConfiguration desk =
      support::ZendeskConfiguration::fromSettings(defaults, platform::Keychain::standard(), environment);
  const support::CloudStorageConfiguration storage =
      support::CloudStorageConfiguration::fromSettings(defaults, platform::Keychain::standard(), environment);
  support::window::ContactSupportServices services;
  services.pages = support::window::SupportDeskPages::fromSettings(defaults, desk);
  services.makeHelpDesk = [desk, home = services.pages.webAddress](support::ZendeskControllerDelegate_Protocol& window) {
    return std::make_unique<support::window::ZendeskHelpDesk>(window, desk, home);
  };
  services.makeCloudUpload = [storage](support::AmazonUploaderControllerDelegateProtocol& window) {
    return std::make_unique<support::window::AmazonCloudUpload>(window, storage);
  };
  services.commandRunner = std::make_shared<support::ProcessCommandRunner>();
  services.sources = support::SupportSources::fromEnvironment();
  services.computerName = hostName();
  services.desktopFolder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation).toStdString();
  return services;
}

}  // namespace

ContactSupportWindowHandle::ContactSupportWindowHandle(platform::Dictionary applicationInfo,
                                                       support::window::ContactSupportWindowController_Delegate& delegate,
                                                       ApplicationDelegate* menus)
    : controller_(std::make_unique<support::window::ContactSupportWindowController>(std::move(applicationInfo),
                                                                                    &delegate, makeServices())),
      window_(std::make_unique<support::views::ContactSupportWindow>(*controller_)) {
  if (!menus) return;
  auto* bar = new QMenuBar(window_.get());
  ApplicationMenus::populate(*bar, *menus, MenuOwner{window_.get(), nullptr, {}});
  window_->placeMenuBar(*bar);
}

// The window goes first: it clears itself from the controller.
ContactSupportWindowHandle::~ContactSupportWindowHandle() { window_.reset(); }

}  // namespace app::views
