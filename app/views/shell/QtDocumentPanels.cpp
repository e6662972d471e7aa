#include "app/views/shell/QtDocumentPanels.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/views/shell/ApplicationMenus.h"

namespace app::views {

SaveChangesAnswer QtDocumentPanels::askSaveChanges(const std::string& documentName) {
  QMessageBox box(QApplication::activeWindow());
  box.setObjectName("saveChangesAlert");
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(QApplication::applicationDisplayName());
  box.setText(QString::asprintf(kSaveChangesQuestion, documentName.c_str()));
  box.setInformativeText(QString::fromUtf8(kSaveChangesInformative));
  QPushButton* save = box.addButton(QObject::tr("Save"), QMessageBox::AcceptRole);
  QPushButton* dontSave = box.addButton(QObject::tr("Don't Save"), QMessageBox::DestructiveRole);
  QPushButton* cancel = box.addButton(QObject::tr("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(save);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == save) return SaveChangesAnswer::Save;
  if (box.clickedButton() == dontSave) return SaveChangesAnswer::DontSave;
  return SaveChangesAnswer::Cancel;
}

std::optional<std::filesystem::path> QtDocumentPanels::askSaveFileName(const std::string& suggestedName) {
  const QString start = QDir::home().filePath(QString::fromStdString(suggestedName));
  const QString path = QFileDialog::getSaveFileName(QApplication::activeWindow(), QObject::tr("Save Playlist"), start,
                                                    ApplicationMenus::playlistFileFilter());
  if (path.isEmpty()) return std::nullopt;
  return std::filesystem::path(path.toStdString());
}

}  // namespace app::views
