#include "ui/try_open_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "services/app.h"
#include "ui/dialog_parts.h"
#include "ui/ui_texts.h"

CDlgTryOpen::CDlgTryOpen(QWidget* parent)
    : QDialog(parent),
      dontWarn_(DialogCheckBox("Don't show this warning again", IDC_DONT_WARN, this)),
      ok_(DialogButton("OK", IDC_BUTTON_OK, this)) {
  setObjectName("TryOpen");
  setWindowTitle("Try To Open");
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  QLabel* text = DialogLabel(
      "Try to open recovers the selected files into the temporary folder and opens the last of them with the "
      "program your desktop uses for its type. The files are recovered as they were found: a damaged file may "
      "not open, or may open showing wrong contents.\n\nThe files written are offered for deletion when the "
      "program exits.",
      IDC_TRY_OPEN_TEXT, this);
  text->setMinimumWidth(380);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(dontWarn_);
  auto* buttons = new QHBoxLayout;
  QPushButton* cancel = DialogButton("Cancel", IDC_BUTTON_CANCEL, this);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &CDlgTryOpen::accept);
  connect(cancel, &QPushButton::clicked, this, &CDlgTryOpen::reject);
  RegisterView(kSection, this, 0, {});
}

void CDlgTryOpen::accept() {
  if (dontWarn_->isChecked()) theApp().Settings.NoTryOpenWarning = 1;
  QDialog::accept();
}
