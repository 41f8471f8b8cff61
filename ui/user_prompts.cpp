#include "ui/user_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

bool CMessageBoxPrompts::AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

void CMessageBoxPrompts::ShowError(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox::critical(parent, caption, text);
}

void CMessageBoxPrompts::ShowMessage(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox::information(parent, caption, text);
}

QString IUserPrompts::ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

namespace {

QString RunFileDialog(QWidget* parent, const QString& title, const QString& suggested, const QStringList& filters,
                      const QString& defaultSuffix, bool save) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(defaultSuffix);
  if (!suggested.isEmpty()) dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

QString IUserPrompts::ChooseSaveFile(QWidget* parent, const QString& title, const QString& suggested,
                                     const QStringList& filters, const QString& defaultSuffix) {
  return RunFileDialog(parent, title, suggested, filters, defaultSuffix, true);
}

QString IUserPrompts::ChooseOpenFile(QWidget* parent, const QString& title, const QStringList& filters,
                                     const QString& defaultSuffix) {
  return RunFileDialog(parent, title, {}, filters, defaultSuffix, false);
}
