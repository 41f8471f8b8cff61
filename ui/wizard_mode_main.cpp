#include "ui/wizard_mode_main.h"

#include "ui/user_prompts.h"
#include "ui/wizard_mode_explore_page.h"
#include "ui/wizard_mode_finish.h"
#include "ui/wizard_mode_scan_page.h"
#include "ui/wizard_mode_steps.h"
#include "ui/wizard_session.h"

const char* const CWizardMode_Main::kNotRecoveredQuestion =
    "You haven't restored any of the files. Please make sure that you have marked all required files and pressed "
    "the \"Recover\" button in the current dialogue before you move on to the next step of the recovery process. "
    "Do you want to move on to the next step?";
const char* const CWizardMode_Main::kNotRecoveredAfterScanQuestion =
    "You haven't restored any of the files. Please make sure that you have marked all required files and pressed "
    "the \"Recover\" button in the current dialogue. Do you want to move on to the next step?";
const char* const CWizardMode_Main::kRestartQuestion =
    "You are not allowed to change options after recovery is started. Do you want to start recovery from "
    "beginning?";

bool AskRestartAfterRecovery(IUserPrompts& prompts, QWidget* parent) {
  return prompts.AskYesNo(parent, CWizardMode_Main::kRestartQuestion, "Confirmation");
}

CWizardMode_Main::CWizardMode_Main(CAppUi& app) : CWizardMode_Window(app, 32840, "WizardMode_Main") {
  CWizardSession& session = Session();
  AddPage(new CWizardMode_Step0, "WizardMode_Step0");
  AddPage(new CWizardMode_Step1(session), "WizardMode_Step1");
  AddPage(new CWizardMode_Step2, "WizardMode_Step2");
  AddPage(new CWizardMode_Step3, "WizardMode_Step3");
  AddPage(new CWizardMode_Step4(session), "WizardMode_Step4");
  AddPage(new CWizardMode_Step5(session), "WizardMode_Step5");
  AddPage(new CWizardMode_Step6(session, Prompts()), "WizardMode_Step6");
  AddPage(new CWizardMode_Step7(session), "WizardMode_Step7");
  AddPage(new CWizardMode_Step8(session, Prompts()), "WizardMode_Step8");
  AddPage(new CWizardMode_Finish(session, 152, "Step 9 of 9: Recovery completed"), "WizardMode_Finish");
  PagesAdded();
}

bool CWizardMode_Main::MayGoNext(int from) {
  CWizardSession& session = Session();
  if (from == FileSystemFiles) {
    // Files were found and nothing of them recovered yet in this wizard.
    if (session.FilesFound() > 0 && session.RecoveredCount() == 0)
      return Prompts().AskYesNo(this, kNotRecoveredQuestion, "Confirmation");
  } else if (from == SectorFiles) {
    auto* page = static_cast<CWizardMode_ExplorePage*>(Page(SectorFiles));
    if (session.FilesFound() > 0 && session.RecoveredCount() == page->RecoveredOnEnter())
      return Prompts().AskYesNo(this, kNotRecoveredAfterScanQuestion, "Confirmation");
  }
  return true;
}

bool CWizardMode_Main::MayGoBack(int from) {
  const int to = from - 1;
  if (to < Drive || to > Destination || !Session().RecoveryStarted()) return true;
  if (!AskRestartAfterRecovery(Prompts(), this)) return false;
  // Options change only before a recovery: everything starts again from
  // the scanning mode, with the earlier pass stopped.
  RestartSession();
  GoTo(ScanMode);
  return true;
}
