#include "ui/wizard_mode_main2.h"

#include "ui/wizard_mode_analysing.h"
#include "ui/wizard_mode_explore_page.h"
#include "ui/wizard_mode_finish.h"
#include "ui/wizard_mode_main.h"
#include "ui/wizard_mode_steps.h"
#include "ui/wizard_session.h"

CWizardMode_Main2::CWizardMode_Main2(CAppUi& app) : CWizardMode_Window(app, 32874, "WizardMode_Main2") {
  CWizardSession& session = Session();
  AddPage(new CWizardMode_SelectDisk(session), "WizardMode_SelectDisk");
  AddPage(new CWizardMode_ScanParam(session), "WizardMode_ScanParam");
  AddPage(new CWizardMode_Analysing(session), "WizardMode_Analysing");
  AddPage(new CWizardMode_ExploreFoundFiles(session, Prompts()), "WizardMode_ExploreFoundFiles");
  AddPage(new CWizardMode_Finish(session, 407, "Finish: Recovery completed"), "WizardMode_Finish");
  PagesAdded();
}

bool CWizardMode_Main2::MayGoBack(int from) {
  if (from - 1 > Parameters) return true;
  if (!Session().RecoveryStarted()) {
    // Options that change run the analysis again when the wizard goes on.
    RestartSession();
    return true;
  }
  if (!AskRestartAfterRecovery(Prompts(), this)) return false;
  RestartSession();
  GoTo(Parameters);
  return true;
}
