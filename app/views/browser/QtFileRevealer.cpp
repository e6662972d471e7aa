#include "app/views/browser/QtFileRevealer.h"

#include <system_error>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QUrl>

namespace app::views {

namespace {

constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
constexpr int kFileManagerCallLimitMs = 2000;

}  // namespace

bool QtFileRevealer::selectFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return false;
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path.string()));
  QDBusInterface fileManager(QString::fromLatin1(kFileManagerService), QString::fromLatin1(kFileManagerPath),
                             QString::fromLatin1(kFileManagerService), QDBusConnection::sessionBus());
  if (fileManager.isValid()) {
    fileManager.setTimeout(kFileManagerCallLimitMs);
    const QDBusMessage reply = fileManager.call(QStringLiteral("ShowItems"), QStringList{url.toString()}, QString());
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
  }
  const std::filesystem::path folder = std::filesystem::is_directory(path, error) ? path : path.parent_path();
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

}  // namespace app::views
