// The message boxes the frame shows (errors, Yes/No questions), behind an
// interface so that tests answer them without a modal loop.
#pragma once

#include <QString>

class QWidget;

class IUserPrompts {
public:
  virtual ~IUserPrompts() = default;
  // Yes/No with a question icon; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
  // An error icon and OK.
  virtual void ShowError(QWidget* parent, const QString& text, const QString& caption) = 0;
  // An information icon and OK.
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& caption) = 0;
};

// The real message boxes.
class CMessageBoxPrompts : public IUserPrompts {
public:
  bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowError(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowMessage(QWidget* parent, const QString& text, const QString& caption) override;
};
