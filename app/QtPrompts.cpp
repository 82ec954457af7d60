#include "QtPrompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace globelayers {
namespace {

int RunBox(QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, ApplicationTitle(), QString::fromStdString(text), buttons,
                  QApplication::activeWindow());
  return box.exec();
}

// A file-open dialog whose extensions match without regard to case, on a
// file system that minds it: the patterns list "topo.GRD" for "*.grd", and
// a name typed without an extension gets the one its file has.
class TOpenFileDialog : public QFileDialog {
 public:
  TOpenFileDialog(QWidget* parent, const QString& title, const QString& defaultExt)
      : QFileDialog(parent, title), defaultExt_(defaultExt) {
    setFilter(filter() & ~QDir::CaseSensitive);
  }

 protected:
  void accept() override {
    // Qt adds its default suffix in the case it is given; it is given the
    // case of the file that is there, just before Qt reads the typed name.
    setDefaultSuffix(QString());
    const QStringList typed = selectedFiles();
    if (typed.size() == 1) {
      const QString existing = WithExistingExtension(typed.constFirst(), defaultExt_);
      if (existing != typed.constFirst()) setDefaultSuffix(QFileInfo(existing).suffix());
    }
    QFileDialog::accept();
  }

 private:
  QString defaultExt_;
};

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
  TOpenFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(title),
                         QString::fromStdString(defaultExt));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, false);
  // The desktop's own dialog would neither match extensions without regard
  // to case nor add the extension that exists.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setNameFilter(FilterToQt(filter));
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
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString& pattern = parts[i + 1];
    if (description.trimmed().endsWith(QStringLiteral("(%1)").arg(pattern), Qt::CaseInsensitive))
      entries << description;
    else
      entries << QStringLiteral("%1 (%2)").arg(description, pattern);
  }
  if (parts.size() % 2 == 1 && !parts.last().isEmpty()) entries << parts.last();
  return entries.join(QStringLiteral(";;"));
}

}  // namespace globelayers

namespace globelayers {

QString WithExistingExtension(const QString& typed, const QString& defaultExt) {
  const QFileInfo file(typed);
  if (defaultExt.isEmpty() || file.exists() || !file.suffix().isEmpty()) return typed;
  const QString given = typed + "." + defaultExt;
  if (QFileInfo::exists(given)) return given;
  // Names differing in case only: sorted, so that the pick does not depend
  // on the order the folder lists them in.
  const QString wanted = file.fileName() + "." + defaultExt;
  const QDir folder = file.absoluteDir();
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
    if (name.compare(wanted, Qt::CaseInsensitive) == 0) return QFileInfo(file.dir(), name).filePath();
  }
  return given;
}

}  // namespace globelayers
