#include "ui/dialog_texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <memory>
#include <string>

#include "services/app.h"
#include "services/strings.h"

QString DesignedText(const char* section, int id) {
  const char* text = FindBuiltInSectionText(section, std::to_string(id));
  return text ? QString::fromUtf8(text) : QString();
}

void RegisterDialog(const char* section, QWidget* dialog, std::function<void()> languageChanged) {
  if (dialog->windowTitle().isEmpty()) dialog->setWindowTitle(DesignedText(section, 0));
  theApp().Languages.RegisterWindow(
      section, std::make_shared<CQtTranslatableWindow>(dialog, 0, "CDialog", std::move(languageChanged)));
}

void FollowPageTitles(QTabWidget* tabs) {
  for (int i = 0; i < tabs->count(); ++i) {
    QWidget* page = tabs->widget(i);
    tabs->setTabText(i, page->windowTitle());
    QObject::connect(page, &QWidget::windowTitleChanged, tabs,
                     [tabs, page](const QString& title) { tabs->setTabText(tabs->indexOf(page), title); });
  }
}

QPushButton* AddDialogButton(QDialogButtonBox* box, const char* section, int id) {
  const QDialogButtonBox::ButtonRole role = id == IDC_OK       ? QDialogButtonBox::AcceptRole
                                            : id == IDC_CANCEL ? QDialogButtonBox::RejectRole
                                                               : QDialogButtonBox::ApplyRole;
  QPushButton* button = box->addButton(DesignedText(section, id), role);
  SetControlId(button, id);
  if (id == IDC_OK) button->setDefault(true);
  return button;
}

QDialogButtonBox* LayOutTabbedDialog(QDialog* dialog, QTabWidget* tabs) {
  FollowPageTitles(tabs);
  auto* buttons = new QDialogButtonBox(dialog);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
  return buttons;
}
