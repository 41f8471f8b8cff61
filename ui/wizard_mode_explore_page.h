// The explore pages: the found files of the chosen volume (the explorer
// view's folder tree, file list and data viewer) with "&Recover...",
// "&Try to Open...", "&Information..." and "Filters". Recover writes the
// selection to DestinationFolder with the wizard's own progress line.
#pragma once

#include <vector>

#include "ui/wizard_mode_page.h"

class CRecoveryCommands;
class CVolume;
class CVolumeExploreView;
class CWizardSession;
class IUserPrompts;
class QLabel;
class QProgressBar;
class QPushButton;

class CWizardMode_ExplorePage : public CWizardMode_Page {
  Q_OBJECT
public:
  void OnEnter() override;
  void OnTimer() override;
  bool MayMoveOn() const override;

  CVolumeExploreView& Explorer() { return *explorer_; }
  QPushButton* RecoverButton() const { return recover_; }
  // The recovered count when the page was last entered (rule of step 8).
  int RecoveredOnEnter() const { return recoveredOnEnter_; }
  // Recovers the selection of the file list (WM_START_RECOVERY).
  void StartRecovery();

  // Try to Open, Information or Filters on the page's selection, as the
  // main window's commands do.
  void RunCommand(int id);

protected:
  // `allCommands`: Try to Open, Information and Filters beside Recover.
  CWizardMode_ExplorePage(CWizardSession& session, IUserPrompts& prompts, bool allCommands, uint32_t titleString,
                          const char* title, QWidget* parent);
  void AddHint(const char* text);

private:
  CWizardSession& session_;
  CVolumeExploreView* explorer_;
  CRecoveryCommands* commands_;
  QPushButton* recover_;
  std::vector<QPushButton*> commandButtons_;
  QLabel* recoveryText_;
  QProgressBar* recoveryProgress_;
  int recoveredOnEnter_ = 0;
};

class CWizardMode_Step6 : public CWizardMode_ExplorePage {
  Q_OBJECT
public:
  CWizardMode_Step6(CWizardSession& session, IUserPrompts& prompts, QWidget* parent = nullptr);
};

class CWizardMode_Step8 : public CWizardMode_ExplorePage {
  Q_OBJECT
public:
  CWizardMode_Step8(CWizardSession& session, IUserPrompts& prompts, QWidget* parent = nullptr);
};

// The four-step wizard's explore page: Recover only.
class CWizardMode_ExploreFoundFiles : public CWizardMode_ExplorePage {
  Q_OBJECT
public:
  CWizardMode_ExploreFoundFiles(CWizardSession& session, IUserPrompts& prompts, QWidget* parent = nullptr);
};
