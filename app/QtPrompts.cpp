#include "QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace globelayers {
namespace {

int RunBox(QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, ApplicationTitle(), QString::fromStdString(text), buttons,
                  QApplication::activeWindow());
  return box.exec();
}

}  // namespace

void TQtPrompts::ShowMessage(const std::string& text) {
  RunBox(QMessageBox::NoIcon, text, QMessageBox::Ok);
}

bool TQtPrompts::AskYesNo(const std::string& text) {
  return RunBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void TQtPrompts::ShowError(const std::string& text) {
  RunBox(QMessageBox::Critical, text, QMessageBox::Ok);
}

std::optional<std::string> TQtPrompts::PickOpenFile(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& defaultExt) {
  // An existing file in an existing folder; no read-only choice; the
  // process's current directory is left alone (Qt dialogs never change it).
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setNameFilter(FilterToQt(filter));
  dialog.setDefaultSuffix(QString::fromStdString(defaultExt));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath().toStdString();
}

std::optional<std::string> TQtPrompts::PickSaveFile(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& defaultExt) {
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(title));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(FilterToQt(filter));
  dialog.setDefaultSuffix(QString::fromStdString(defaultExt));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath().toStdString();
}

QString FilterToQt(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
  if (parts.size() % 2 == 1 && !parts.last().isEmpty()) entries << parts.last();
  return entries.join(QStringLiteral(";;"));
}

}  // namespace globelayers
