#include "ui/user_prompts.h"

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
