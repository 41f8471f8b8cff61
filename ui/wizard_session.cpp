#include "ui/wizard_session.h"

#include "engine/analysis/analysis_driver.h"
#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "ui/app_ui.h"
#include "ui/probable_file_size_dialog.h"

CWizardSession::CWizardSession(QObject* parent) : QObject(parent) {}

CWizardSession::~CWizardSession() = default;

void CWizardSession::SetVolume(CVolume* volume) {
  volume_ = volume;
  if (volume) theComputer().SetSelectedVolume(volume);
}

void CWizardSession::PreparePhase() {
  // The wizard runs one phase at a time and never chains the queue.
  CSettings& s = theApp().Settings;
  s.AnalyseOnReady = 0;
  s.SelectFirstDrive = 0;
  // One analysis at a time: one the main window left running ends first.
  CVolume* current = theComputer().CurrentVolume();
  if (current && current != volume_ && analysis_threads::IsLive(current)) {
    theComputer().StopAnalysis(current, 1);
    WaitForAnalysis(current, 0xFFFFFFFFu);
  }
  theApp().AnalysisRunning = 0;
  // Notices about objects of the catalog are handled before it changes.
  theAppUi().Messages().Flush();
}

void CWizardSession::StartFileSystemPhase() {
  if (!volume_ || Busy()) return;
  PreparePhase();
  emit CatalogClearing(volume_);
  theComputer().StartAnalysis(volume_);
}

void CWizardSession::StartSectorScan(bool freeSpaceOnly) {
  if (!volume_ || Busy()) return;
  PreparePhase();
  volume_->ScanFreeSpaceOnly = freeSpaceOnly;
  theApp().AnalysisRunning = 1;
  volume_->StartScanThread(0);
  if (!Busy()) theApp().AnalysisRunning = 0;
}

bool CWizardSession::StopPhase(bool force) {
  if (!volume_ || !Busy()) return true;
  theApp().Settings.AnalyseOnReady = 0;
  if (!theComputer().StopAnalysis(volume_, force ? 1 : 0)) return false;
  // The stop waits a moment for the thread; a scan ending a block still
  // has to be waited for before anything else starts on the volume.
  WaitForAnalysis(volume_, 0xFFFFFFFFu);
  theApp().AnalysisRunning = 0;
  return true;
}

bool CWizardSession::Busy() const { return volume_ && analysis_threads::IsLive(volume_); }

bool CWizardSession::Recover(const std::vector<CFoundObject*>& selection) {
  CRecovery& recovery = theComputer().Recovery();
  if (recovery.IsWorking()) return false;
  RecoveredCount();  // banks a run that ended since the last look
  recovery.Destination = theApp().Settings.DestinationFolderText();
  recovery.SourceVolume = volume_;
  if (!recovery.StartRecovery(selection)) return false;
  recoveryStarted_ = true;
  runActive_ = true;
  return true;
}

bool CWizardSession::RecoveryRunning() const { return runActive_ && theComputer().Recovery().IsWorking(); }

int CWizardSession::RecoveredCount() {
  CRecovery& recovery = theComputer().Recovery();
  if (!runActive_) return banked_;
  if (recovery.IsWorking()) return banked_ + recovery.RecoveredCount();
  recovery.Wait();
  runActive_ = false;
  const int recovered = recovery.RecoveredCount();
  banked_ += recovered;
  emit RecoveryFinished(recovered);
  return banked_;
}

uint32_t CWizardSession::FilesFound() const {
  return volume_ ? volume_->FilesFound.load() + volume_->ScanFilesFound.load() : 0;
}

void CWizardSession::Restart() {
  CRecovery& recovery = theComputer().Recovery();
  if (runActive_) {
    recovery.Stop();
    // A worker waiting for the size of a lost file gets Cancel.
    theAppUi().SizeQuestion().CancelOpen();
    recovery.Wait();
  }
  StopPhase(true);
  runActive_ = false;
  recoveryStarted_ = false;
  banked_ = 0;
  if (volume_) {
    volume_->FilesFound = 0;
    volume_->FoldersFound = 0;
    volume_->ScanFilesFound = 0;
    volume_->ScanFoldersFound = 0;
    volume_->Position(0);
    volume_->ScanFreeSpaceOnly = false;
  }
}
