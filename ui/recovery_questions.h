// The recovery engine's questions (same drive, another folder, temporary
// files at exit) answered with the desktop program's message boxes and
// folder browser.
#pragma once

#include <QString>

#include "engine/recovery/recovery.h"
#include "ui/user_prompts.h"

class CPromptRecoveryQuestions : public IRecoveryQuestions {
public:
  CPromptRecoveryQuestions(IUserPrompts& prompts, QWidget* parent) : prompts_(prompts), parent_(parent) {}

  bool ConfirmDeleteTemporaryFiles(const std::string& question, const std::string& caption) override {
    return prompts_.AskYesNo(parent_, QString::fromStdString(question), QString::fromStdString(caption));
  }
  bool AskSelectAnotherDestination(const std::string& question, const std::string& caption) override {
    return prompts_.AskYesNo(parent_, QString::fromStdString(question), QString::fromStdString(caption));
  }
  bool BrowseDestination(const std::string& title, std::string& folder) override {
    const QString chosen = prompts_.ChooseFolder(parent_, QString::fromStdString(title), QString::fromStdString(folder));
    if (chosen.isEmpty()) return false;
    folder = chosen.toStdString();
    return true;
  }

private:
  IUserPrompts& prompts_;
  QWidget* parent_;
};
