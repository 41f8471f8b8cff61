// The one owner of the volumes of the running program: the volume list, the
// analysis queue, the log, the signature database and the recovery engines.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/partition/partition_origin.h"
#include "services/log.h"

class CVolume;
struct CFoundObject;
class CFileSignatureDatabase;
class CRecovery;

class CVolumesList {
public:
  CVolume* GetAt(size_t index) const;
  size_t GetCount() const;
  void Append(std::unique_ptr<CVolume> volume);
  // A snapshot of the list, in order.
  std::vector<CVolume*> Snapshot() const;

private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<CVolume>> volumes_;
};

class CLocalComputer {
public:
  CLocalComputer();
  virtual ~CLocalComputer();
  CLocalComputer(const CLocalComputer&) = delete;
  CLocalComputer& operator=(const CLocalComputer&) = delete;

  // Counts down from -65536: -65537, -65538, ...
  int64_t NextVolumeId();
  // An image file (or a block device given by path) as a volume; null when
  // it cannot be opened.
  CVolume* LoadImage(const std::string& path);
  // Starts copying job.Source to the image file job.TargetPath on a thread
  // of its own (engine/volume/image_job.h). 0 when started; -1 when the
  // checks refused the job (job.Reason tells why).
  int CreateImage(struct ImageJob& job);
  // A partition the table walk found or a boot sector the volume search met
  // (engine/partition/found_volume.cpp). The record's ParentID names the
  // volume it was found in, its StartOffset the byte offset there and its
  // FileType the partition type or file system. A volume known before is
  // confirmed (FOF_CONFIRMED) and returned; otherwise the Found volume is
  // made, analysed for its boot sector, listed and returned. Null when the
  // parent is not in the volume list or the offset lies past its end.
  CVolume* AddFoundVolume(const CFoundObject& record, const PartitionOrigin& origin = {});

  // --- Analysis driver (engine/analysis/analysis_queue.cpp) ---
  // Queues the volume and starts its full analysis unless one runs.
  void StartAnalysis(CVolume* volume);
  // 1 when stopped, 0 when the user declined (ConfirmScanAbort).
  int StopAnalysis(CVolume* volume, int force);
  void FinishAnalysis(CVolume* volume);
  // Volume search (ScanMode 1) on the volume.
  void StartScan(CVolume* volume);
  // What a front end does on WM_ANALYSIS_DONE: with SelectFirstDrive 1,
  // starts the first queued volume and returns it (null: none started).
  CVolume* StartNextQueued();
  std::vector<CVolume*> AnalysisQueue() const;
  CVolume* CurrentVolume() const;
  void SetCurrentVolume(CVolume* volume);
  CVolume* SelectedVolume() const;
  void SetSelectedVolume(CVolume* volume);
  // Who answers the ConfirmScanAbort question (null: no one; stops go ahead).
  void SetScanAbortQuestion(class IScanAbortQuestion* question);

  CLog Log;
  CVolumesList Volumes;
  CFileSignatureDatabase& Signatures();
  // The two recovery engines, Recover and Try to open (made at first use).
  CRecovery& Recovery();
  CRecovery& TryOpen();

private:
  std::atomic<int64_t> volumeIdCounter_{-0x10000};
  // Makes AddFoundVolume's look-up and append one step, so two threads
  // reporting the same volume make one.
  std::mutex foundMutex_;
  std::unique_ptr<CFileSignatureDatabase> signatures_;
  std::once_flag recoveryOnce_;
  std::shared_ptr<CRecovery> recovery_, tryOpen_;
};

// The drive-list owner of the running program.
CLocalComputer& theComputer();
