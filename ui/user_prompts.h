// The message boxes the frame shows (errors, Yes/No questions), behind an
// interface so that tests answer them without a modal loop.
#pragma once

#include <QString>
#include <QStringList>

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
  // A folder browser starting at `start`; empty when nothing was chosen.
  virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& start);
  // A save dialog offering `suggested`, with name filters ("Text (*.txt)")
  // and a default suffix; it does not ask about replacing an existing file
  // (the caller does). Empty when cancelled.
  virtual QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& suggested,
                                 const QStringList& filters, const QString& defaultSuffix);
  // An open dialog for an existing file; empty when cancelled.
  virtual QString ChooseOpenFile(QWidget* parent, const QString& title, const QStringList& filters,
                                 const QString& defaultSuffix);
};

// The real message boxes.
class CMessageBoxPrompts : public IUserPrompts {
public:
  bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowError(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowMessage(QWidget* parent, const QString& text, const QString& caption) override;
};
