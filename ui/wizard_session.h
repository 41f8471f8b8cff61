// What one run of a wizard works on: the chosen volume, its two analysis
// phases (file system, then sector scan), the recoveries started from its
// explore pages and the count of files they recovered. Both wizards drive
// the engine through it; a restart stops all of it and starts clean.
#pragma once

#include <QObject>

#include <cstdint>
#include <vector>

class CVolume;
struct CFoundObject;

class CWizardSession : public QObject {
  Q_OBJECT
public:
  explicit CWizardSession(QObject* parent = nullptr);
  ~CWizardSession() override;

  CVolume* Volume() const { return volume_; }
  void SetVolume(CVolume* volume);

  // The file-system phase of the volume (boot sector, then its file
  // system), without the sector scan that a full analysis adds.
  void StartFileSystemPhase();
  // The sector scan of the volume: every sector, or with `freeSpaceOnly`
  // only the clusters its file system marks free.
  void StartSectorScan(bool freeSpaceOnly);
  // Stops the running phase; false when the user declined the stop.
  bool StopPhase(bool force = false);
  // True while an analysis thread of the volume runs.
  bool Busy() const;

  // Recovers the objects to DestinationFolder with the recovery engine;
  // false when another recovery still runs or the list is empty.
  bool Recover(const std::vector<CFoundObject*>& selection);
  bool RecoveryRunning() const;
  // True once a recovery was started in this run of the wizard.
  bool RecoveryStarted() const { return recoveryStarted_; }
  // Files recovered in this run of the wizard, over all its recoveries (the
  // recovery engine's count of each run, added up as runs end).
  int RecoveredCount();
  // Files the volume's catalog got from the file-system phase and the scan.
  uint32_t FilesFound() const;

  // Back to a clean start: the recovery and the analysis of the earlier
  // pass are stopped and waited for, and every count starts at zero.
  void Restart();

signals:
  // The catalog of the volume is about to be emptied: views drop their
  // pointers into it.
  void CatalogClearing(CVolume* volume);
  // A recovery run of this session ended (its files are counted).
  void RecoveryFinished(int recovered);

private:
  void PreparePhase();

  CVolume* volume_ = nullptr;
  bool recoveryStarted_ = false;
  bool runActive_ = false;  // a run of this session is counted when it ends
  int banked_ = 0;          // files of the runs that ended
};
