#include "ui/wizard_mode_left_bar.h"

CWizardMode_LeftBar::CWizardMode_LeftBar(QWidget* parent) : QListWidget(parent) {
  setObjectName("WizardLeftBar");
  // The bar shows where the user is; moving happens with Back and Next.
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
  setWordWrap(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTextElideMode(Qt::ElideNone);
  setFixedWidth(220);
  setStyleSheet("QListWidget { background: #1f3b5a; color: #c8d6e5; border: none; }"
                "QListWidget::item { padding: 6px; }");
}

void CWizardMode_LeftBar::SetSteps(const QStringList& titles) {
  clear();
  addItems(titles);
}

void CWizardMode_LeftBar::SetCurrentStep(int index) {
  for (int i = 0; i < count(); ++i) {
    QFont font = item(i)->font();
    font.setBold(i == index);
    item(i)->setFont(font);
    item(i)->setForeground(i == index ? QColor(Qt::white) : QColor(0xc8, 0xd6, 0xe5));
  }
  if (index >= 0 && index < count()) scrollToItem(item(index));
}
