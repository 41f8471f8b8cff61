#include "ui/wizard_mode_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ui/ui_texts.h"

CWizardMode_Page::CWizardMode_Page(uint32_t titleString, const char* title, QWidget* parent)
    : QWidget(parent), titleString_(titleString), title_(title), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(12, 8, 12, 8);
}

QString CWizardMode_Page::Title() const { return UiString(titleString_, title_); }

QLabel* CWizardMode_Page::AddText(const QString& text) {
  auto* label = new QLabel(text, this);
  label->setWordWrap(true);
  layout_->addWidget(label);
  return label;
}
