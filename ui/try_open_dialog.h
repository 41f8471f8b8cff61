// The warning shown before Try to open: what the command writes and where,
// with the choice not to be warned again (NoTryOpenWarning).
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

class CDlgTryOpen : public QDialog {
  Q_OBJECT
public:
  static constexpr const char* kSection = "TryOpen";
  enum ControlId : int { IDC_TRY_OPEN_TEXT = 1401, IDC_DONT_WARN = 1402 };

  explicit CDlgTryOpen(QWidget* parent);
  QCheckBox* DontWarnAgain() const { return dontWarn_; }
  QPushButton* OkButton() const { return ok_; }

  // OK stores the check box in NoTryOpenWarning.
  void accept() override;

private:
  QCheckBox* dontWarn_;
  QPushButton* ok_;
};
