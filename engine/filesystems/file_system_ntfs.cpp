#include "engine/filesystems/file_system_ntfs.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/format.h"
#include "services/log.h"
#include "services/strings.h"
#include "services/text.h"

using namespace ntfs;

namespace {
// The read-ahead window: the MFT is read in number order, so one read serves
// many records.
constexpr uint64_t kWindowSectors = 512;
// Log lines about damaged structures written per parser at most.
constexpr uint32_t kMaxDamageLines = 50;
// The volume record, and the longest name it may carry.
constexpr uint64_t kVolumeRecord = 3;
constexpr uint64_t kMaxLabelChars = 128;
// The largest compression unit decoded (writers use 64 KiB).
constexpr uint64_t kMaxCompressionUnitBytes = 4u << 20;
// Records examined after one found by the sector scan.
constexpr int kFoundRecordsExamined = 10;

bool PowerOfTwo(uint64_t v) { return v && !(v & (v - 1)); }
}  // namespace

CFileSystem_NTFS::CFileSystem_NTFS(CVolume* volume) : CFileSystem(volume), MFT(this) {
  FileSystemType = 7;
  if (volume) {
    uint32_t previous = volume->FileSystem().FileSystemType;
    if (previous) FileSystemType = previous;
  }
}

uint64_t CFileSystem_NTFS::ClusterToSector(uint64_t cluster) const {
  uint32_t spc = sectorsPerCluster_ ? sectorsPerCluster_ : (Volume ? Volume->SectorsPerCluster : 1);
  return cluster * spc;
}

void CFileSystem_NTFS::LogDamage(std::string_view text) {
  if (damageLines_ >= kMaxDamageLines) return;
  if (++damageLines_ == kMaxDamageLines) {
    theLog().AddError("CFileSystem_NTFS: too many damaged records; no further ones are logged.");
    return;
  }
  theLog().AddError(text);
}

bool CFileSystem_NTFS::ReadBootSector() {
  if (!Volume) return false;
  uint8_t boot[512];
  // Sector 0, or the backup copy a volume found by it is read from.
  if (ReadVolumeSectors(boot, Volume->Origin.BootSector, uint64_t{1}) < 512) return false;
  uint32_t bytesPerSector = Le16(boot + 0x0B);
  uint32_t rawSpc = boot[0x0D];
  uint64_t spc = rawSpc <= 0x80 ? rawSpc : (rawSpc >= 0xF4 ? 1ull << (256 - rawSpc) : 0);
  if (!PowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096 || !PowerOfTwo(spc) ||
      bytesPerSector * spc > (2u << 20)) {
    theLog().Error("CFileSystem_NTFS: bad cluster geometry (%d bytes per sector, %d sectors per cluster).",
                   bytesPerSector, rawSpc);
    return false;
  }
  bytesPerCluster_ = static_cast<uint32_t>(bytesPerSector * spc);
  sectorsPerCluster_ = bytesPerCluster_ / 512;
  TotalSectorsValue = Le64(boot + 0x28);
  MftCluster = Le64(boot + 0x30);
  MftMirrorCluster = Le64(boot + 0x38);
  // Clusters per record: positive, a count of clusters; negative, the record
  // size is 2^-n bytes (0xF6 gives 1024).
  int8_t perRecord = static_cast<int8_t>(boot[0x40]);
  uint64_t recordSize = 1024;
  if (perRecord > 0) {
    recordSize = static_cast<uint64_t>(perRecord) * bytesPerCluster_;
  } else if (perRecord < 0 && -perRecord < 32) {
    recordSize = 1ull << -perRecord;
  }
  if (!PowerOfTwo(recordSize) || recordSize < kMinRecordSize || recordSize > kMaxRecordSize) recordSize = 1024;
  RecordSize = static_cast<uint32_t>(recordSize);

  // Readable sectors: the image or device size when known; the file system's
  // own count (plus its backup boot sector) otherwise.
  uint64_t fsSectors = 0;
  if (TotalSectorsValue < (1ull << 52)) fsSectors = TotalSectorsValue * (bytesPerSector / 512);
  volumeSectors_ = Volume->TotalSectors ? Volume->TotalSectors : fsSectors + bytesPerSector / 512;
  uint64_t clusterSectors = fsSectors ? std::min(fsSectors, volumeSectors_) : volumeSectors_;
  clusterCount_ = clusterSectors / sectorsPerCluster_;

  Volume->BytesPerSector = bytesPerSector;
  Volume->SectorsPerCluster = sectorsPerCluster_;
  Volume->BytesPerCluster = bytesPerCluster_;
  Volume->TotalClusters = clusterCount_;
  Volume->SerialNumber = Le64(boot + 0x48);
  return clusterCount_ > 0;
}

bool CFileSystem_NTFS::ReadVolumeBytes(uint64_t offset, uint32_t bytes, uint8_t* out) {
  if (!Volume || bytes == 0) return bytes == 0;
  uint64_t first = offset / 512;
  uint64_t last = (offset + bytes + 511) / 512;
  if (offset + bytes < offset || last > volumeSectors_) return false;
  if (!(windowSectors_ && first >= windowSector_ && last <= windowSector_ + windowSectors_)) {
    uint64_t count = last - first;
    uint64_t want = std::min(std::max(count, kWindowSectors), volumeSectors_ - first);
    window_.resize(want * 512);
    uint64_t got = ReadVolumeSectors(window_.data(), first, want);
    if (got < count * 512 && want > count) {
      // A bad sector further on should not fail the part that reads well.
      want = count;
      got = ReadVolumeSectors(window_.data(), first, want);
    }
    if (got < count * 512) {
      windowSectors_ = 0;
      return false;
    }
    windowSector_ = first;
    windowSectors_ = got / 512;
  }
  std::memcpy(out, window_.data() + (offset - windowSector_ * 512), bytes);
  return true;
}

uint32_t CFileSystem_NTFS::ReadRecord(uint64_t n, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  try {
    if (!mftLoaded_ || n >= RecordCount) return 0;
    uint32_t got = MFT.ReadData(n * RecordSize, RecordSize, buffer);
    if (got != RecordSize) return 0;
    if (Le32(buffer + 0x2C) == n || Le32(buffer) == kFileSignature) return got;
  } catch (...) {
    theLog().AddError("CFileSystem_NTFS::ReadRecord except");
  }
  return 0;
}

bool CFileSystem_NTFS::LoadMFT() {
  mftLoaded_ = false;
  RecordCount = 0;
  mftSectors_.clear();
  if (clusterCount_ == 0 && !ReadBootSector()) return false;

  auto readCopy = [&](uint64_t cluster, std::vector<uint8_t>& buffer) {
    buffer.assign(RecordSize, 0);
    if (cluster >= clusterCount_) return false;
    return ReadVolumeBytes(cluster * bytesPerCluster_, RecordSize, buffer.data());
  };
  auto isFile = [](const std::vector<uint8_t>& b) { return b.size() >= 4 && Le32(b.data()) == kFileSignature; };

  // The first copy of record 0, or the mirror when the first is not a FILE
  // record (or does not load) and the mirror is.
  std::vector<uint8_t> first, mirror;
  readCopy(MftCluster, first);
  readCopy(MftMirrorCluster, mirror);
  uint64_t chosen = MftCluster;
  bool loaded = false;
  if (isFile(first) || !isFile(mirror)) loaded = MFT.Load(first.data(), first.size());
  if (!loaded && isFile(mirror)) {
    chosen = MftMirrorCluster;
    loaded = MFT.Load(mirror.data(), mirror.size());
    if (loaded) theLog().AddMessage("CFileSystem_NTFS: using the MFT mirror.");
  }
  if (!loaded) return false;

  // The record's own allocated size decides the record size.
  uint32_t allocated = Le32(MFT.Record.data() + 0x1C);
  if (allocated != RecordSize) {
    if (!PowerOfTwo(allocated) || allocated < kMinRecordSize || allocated > kMaxRecordSize) {
      LogDamage(qm::Format("CFileSystem_NTFS: record size %d in the MFT record ignored.", allocated));
    } else {
      RecordSize = allocated;
      std::vector<uint8_t> again;
      if (!readCopy(chosen, again) || !MFT.Load(again.data(), again.size())) return false;
    }
  }
  if (!MFT.HasData || !MFT.NonResident || MFT.Runs.empty()) return false;

  auto countRecords = [&]() {
    uint64_t count = MFT.DataSize / RecordSize;
    uint64_t mapped = 0;
    if (!MFT.Runs.empty() && MFT.Runs.back().LastVcn < (1ull << 48))
      mapped = (MFT.Runs.back().LastVcn + 1) * bytesPerCluster_ / RecordSize;
    uint64_t byVolume = volumeSectors_ * 512 / RecordSize;
    return std::pair{count, std::min({count, mapped, byVolume})};
  };
  RecordCount = countRecords().second;
  mftLoaded_ = RecordCount > 0;
  if (!mftLoaded_) return false;
  if (MFT.HasAttributeList()) MFT.LoadAttributeList();
  auto [claimed, usable] = countRecords();
  if (usable < claimed)
    theLog().Error("CFileSystem_NTFS: the MFT claims %I64d records; %I64d can be read.", claimed, usable);
  RecordCount = usable;

  for (const MftRun& r : MFT.Runs)
    if (!r.Sparse) mftSectors_.emplace_back(r.Cluster * sectorsPerCluster_, r.Length * sectorsPerCluster_);
  mftLoaded_ = RecordCount > 0;
  // The mirror ($MFTMirr, record 1) holds copies of the first records: they
  // are catalogued by the walk already, like the MFT's own records.
  std::vector<uint8_t> mirrorRecord(RecordSize);
  MftRecord mirrorFile(this);
  if (ReadRecord(1, mirrorRecord.data()) && mirrorFile.Load(mirrorRecord.data(), mirrorRecord.size())) {
    for (const MftRun& r : mirrorFile.Runs)
      if (!r.Sparse) mftSectors_.emplace_back(r.Cluster * sectorsPerCluster_, r.Length * sectorsPerCluster_);
  }
  if (MftMirrorCluster < clusterCount_)
    mftSectors_.emplace_back(MftMirrorCluster * sectorsPerCluster_, std::max<uint64_t>(RecordSize / 512, 1) * 4);
  // Sorted and merged, so one look-up finds the area a sector lies in.
  std::sort(mftSectors_.begin(), mftSectors_.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& [start, count] : mftSectors_) {
    if (!merged.empty() && start <= merged.back().first + merged.back().second) {
      merged.back().second = std::max(merged.back().second, start + count - merged.back().first);
    } else {
      merged.emplace_back(start, count);
    }
  }
  mftSectors_ = std::move(merged);
  return mftLoaded_;
}

bool CFileSystem_NTFS::LoadClustersBitmap() {
  theLog().AddMessage(GetString(277));
  std::vector<uint8_t> record(RecordSize);
  if (ReadRecord(6, record.data()) == 0 || Le32(record.data()) != kFileSignature) return false;
  MftRecord bitmap(this);
  if (!bitmap.Load(record.data(), record.size())) return false;
  // Never more than one bit per cluster of the volume.
  uint64_t bytes = std::min<uint64_t>(bitmap.DataSize, (clusterCount_ + 7) / 8);
  std::vector<uint8_t> bits(bytes);
  uint64_t got = bytes ? bitmap.ReadData(0, static_cast<uint32_t>(bytes), bits.data()) : 0;
  UsedAreas.clear();
  const uint64_t limit = std::min<uint64_t>(got * 8, clusterCount_);
  uint64_t runStart = 0;
  bool inRun = false;
  for (uint64_t c = 0; c < limit;) {
    uint8_t b = bits[c / 8];
    if (c % 8 == 0 && c + 8 <= limit && ((inRun && b == 0xFF) || (!inRun && b == 0))) {
      c += 8;
      continue;
    }
    bool set = (b >> (c % 8)) & 1;
    if (set && !inRun) {
      inRun = true;
      runStart = c;
    } else if (!set && inRun) {
      inRun = false;
      UsedAreas.emplace_back(runStart * sectorsPerCluster_, (c - runStart) * sectorsPerCluster_);
    }
    ++c;
  }
  // A run that reaches the last cluster is in use too.
  if (inRun) UsedAreas.emplace_back(runStart * sectorsPerCluster_, (limit - runStart) * sectorsPerCluster_);
  AllocationArea = {0, limit * sectorsPerCluster_};
  theLog().AddMessage(GetString(278));
  return true;
}

void CFileSystem_NTFS::ReportRecord(CFoundObject& object, MftRecord& record) {
  // A record whose data live in extension records only gets its size and
  // first cluster from them.
  if (!record.HasData && record.HasAttributeList()) {
    record.LoadAttributeList();
    if (record.HasData) object.Size = std::max(object.Size, record.DataSize);
  }
  for (const MftRun& r : record.Runs) {
    if (r.Sparse) continue;
    object.FirstCluster = static_cast<uint64_t>(r.Cluster);
    object.StartOffset = object.FirstCluster * bytesPerCluster_;
    break;
  }
  // The root is the catalog's own root; a record without a parent has no
  // place in the tree.
  if (object.ObjectID == 5 || object.ParentID == 0) return;
  // A parent record reused for another file since this one was written is
  // not this file's folder: the file goes among the orphans.
  if (!ParentStillHolds(record.ParentReference)) object.ParentID = ORPHAN_FILES_ID;
  Volume->AddFileSystemObject(object);
}

std::string CFileSystem_NTFS::VolumeLabel() {
  std::vector<uint8_t> buffer(RecordSize);
  MftRecord record(this);
  if (RecordCount <= kVolumeRecord || !ReadRecord(kVolumeRecord, buffer.data()) ||
      !record.Load(buffer.data(), buffer.size()))
    return {};
  const int32_t a = record.FindAttribute(ntfs::kAttrVolumeName);
  // The name is resident; FindAttribute checked that its header fits.
  if (a < 0 || record.Record[a + 8] != 0) return {};
  const uint8_t* h = &record.Record[a];
  const uint64_t length = ntfs::Le32(h + 0x10), at = ntfs::Le16(h + 0x14);
  const uint64_t attributeLength = ntfs::Le32(h + 4);
  if (at > attributeLength || length > attributeLength - at || length > 2 * kMaxLabelChars) return {};
  return qm::Utf16LeBytesToUtf8(h + at, static_cast<size_t>(length / 2));
}

std::string CFileSystem_NTFS::ReadVolumeLabel(CVolume& volume) {
  try {
    CFileSystem_NTFS fs(&volume);
    if (!volume.OpenDrive() || !fs.ReadBootSector() || !fs.LoadMFT()) return {};
    return fs.VolumeLabel();
  } catch (...) {
    return {};
  }
}

int CFileSystem_NTFS::Analyse() {
  try {
    if (!Volume || !Volume->OpenDrive() || !ReadBootSector() || !LoadMFT()) {
      theLog().AddError("CFileSystem_NTFS: Load MFT failed.");
      return 0;
    }
    LoadClustersBitmap();
    if (Volume->Label.empty()) Volume->Label = VolumeLabel();
    theLog().AddMessage(GetString(178));
    Volume->EndPosition(RecordCount - 1);
    std::vector<uint8_t> buffer(RecordSize);
    CFoundObject object;
    for (uint64_t n = 0; n < RecordCount; ++n) {
      if (!theApp().AnalysisRunning) break;
      Volume->Position(n);
      std::lock_guard lock(mutex_);
      if (ReadRecord(n, buffer.data()) == 0 || Le32(buffer.data()) != kFileSignature) continue;
      object.Initialize();
      object.ObjectID = static_cast<int64_t>(n);
      if (!shared_.Load(buffer.data(), buffer.size())) continue;
      // The data are read along the record's runs (resident data from the
      // record), not as one stretch from the first cluster.
      object.Flags = FOF_FS_RUNS;
      if (!shared_.InUse()) object.Flags |= FOF_DELETED;
      if (shared_.IsDirectory()) object.Flags |= FOF_FOLDER;
      if (!shared_.FillObject(object)) continue;
      ReportRecord(object, shared_);
    }
  } catch (...) {
    theLog().AddError("CFileSystem_NTFS::Analyse except");
  }
  return 0;
}

bool CFileSystem_NTFS::ParentStillHolds(uint64_t reference) {
  const uint16_t sequence = static_cast<uint16_t>(reference >> 48);
  const uint64_t parent = RecordNumberOf(reference);
  if (sequence == 0 || !mftLoaded_ || parent >= RecordCount) return true;
  auto it = parents_.find(parent);
  if (it == parents_.end()) {
    ParentState state;
    std::vector<uint8_t> buffer(RecordSize);
    MftRecord record(this);
    if (ReadRecord(parent, buffer.data()) && record.Load(buffer.data(), buffer.size())) {
      state.Known = true;
      state.InUse = record.InUse();
      state.Sequence = record.SequenceNumber();
    }
    it = parents_.emplace(parent, state).first;
  }
  const ParentState& p = it->second;
  if (!p.Known) return true;
  // Freeing a record raises its sequence number by one: the files of a
  // deleted folder name the number the folder had while it lived.
  return p.Sequence == sequence || (!p.InUse && static_cast<uint16_t>(sequence + 1) == p.Sequence);
}

bool CFileSystem_NTFS::InsideMft(uint64_t sector) const {
  auto it = std::upper_bound(mftSectors_.begin(), mftSectors_.end(), std::pair<uint64_t, uint64_t>{sector, ~uint64_t{0}});
  if (it == mftSectors_.begin()) return false;
  --it;
  return sector < it->first + it->second;
}

void CFileSystem_NTFS::ExamineFoundRecord(CFoundObject* object) {
  if (!object || !Volume) return;
  std::lock_guard lock(mutex_);
  try {
    if (clusterCount_ == 0 && !ReadBootSector()) return;
    const uint64_t step = RecordSize / 512;
    std::vector<uint8_t> buffer(RecordSize);
    uint64_t s = object->StartOffset / 512;
    for (int i = 0; i < kFoundRecordsExamined; ++i, s += step) {
      if (s >= volumeSectors_) break;
      // Records of the live MFT were all catalogued by the walk, and a record
      // already examined after an earlier find is not catalogued twice.
      if (mftLoaded_ && InsideMft(s)) continue;
      if (!examined_.insert(s).second) continue;
      if (s + step > volumeSectors_) break;
      if (!ReadVolumeBytes(s * 512, RecordSize, buffer.data())) continue;
      if (Le32(buffer.data()) == kFileSignature) ParseRecord(buffer.data());
    }
  } catch (...) {
    theLog().AddError("CFileSystem_NTFS::ExamineFoundRecord except");
  }
}

void CFileSystem_NTFS::ParseRecord(const uint8_t* record) {
  if (!record || !Volume) return;
  std::lock_guard lock(mutex_);
  try {
    CFoundObject object;
    object.Flags = FOF_FS_RUNS;
    if (Le32(record) != kFileSignature) return;
    if (!shared_.Load(record, RecordSize)) return;
    object.ObjectID = shared_.RecordNumber();
    if (!shared_.InUse()) object.Flags |= FOF_DELETED;
    object.Flags |= shared_.IsDirectory() ? FOF_FOLDER : FOF_FILE;
    if (!shared_.FillObject(object)) return;
    ReportRecord(object, shared_);
  } catch (...) {
    theLog().AddError("CFileSystem_NTFS::ParseRecord except");
  }
}

void CFileSystem_NTFS::BuildRuns(MftRecord& record, uint64_t objectSize, std::vector<FoundObjectRun>& runs) const {
  (void)objectSize;
  if (!record.HasData || record.DataSize == 0) return;
  if (!record.NonResident) {
    // Resident data read as themselves, padded to whole sectors.
    const uint64_t sectors = (record.DataSize + 511) / 512;
    auto bytes = std::make_shared<std::vector<uint8_t>>(sectors * 512, 0);
    std::memcpy(bytes->data(), record.ResidentData(), record.DataSize);
    FoundObjectRun run;
    run.Kind = FoundObjectRun::Source::Inline;
    run.SectorCount = sectors;
    run.Inline = std::move(bytes);
    runs.push_back(std::move(run));
    return;
  }
  const uint64_t spc = sectorsPerCluster_;
  uint64_t remaining = (record.DataSize + 511) / 512;
  // Sectors past the valid data length were never written: zeros.
  const uint64_t written = (record.InitializedSize + 511) / 512;
  uint64_t produced = 0;
  uint64_t nextVcn = 0;
  auto append = [&](FoundObjectRun::Source kind, uint64_t start, uint64_t count) {
    if (count == 0) return;
    remaining -= count;
    produced += count;
    if (!runs.empty()) {
      FoundObjectRun& last = runs.back();
      if (last.Kind == kind &&
          (kind == FoundObjectRun::Source::Zeros || last.StartSector + last.SectorCount == start)) {
        last.SectorCount += count;
        return;
      }
    }
    FoundObjectRun run;
    run.Kind = kind;
    run.StartSector = kind == FoundObjectRun::Source::Volume ? start : 0;
    run.SectorCount = count;
    runs.push_back(std::move(run));
  };
  auto add = [&](FoundObjectRun::Source kind, uint64_t start, uint64_t count) {
    count = std::min(count, remaining);
    if (kind == FoundObjectRun::Source::Volume && produced + count > written) {
      uint64_t keep = produced < written ? written - produced : 0;
      append(kind, start, keep);
      append(FoundObjectRun::Source::Zeros, 0, count - keep);
      return;
    }
    append(kind, start, count);
  };
  if (record.Compressed()) {
    BuildCompressedRuns(record, remaining, runs, append);
    return;
  }
  for (const MftRun& r : record.Runs) {
    if (remaining == 0) break;
    if (r.LastVcn < nextVcn) continue;
    // A stretch no extent maps (a lost extension record) reads as zeros so
    // that what follows stays at its place in the file.
    if (r.FirstVcn > nextVcn) add(FoundObjectRun::Source::Zeros, 0, (r.FirstVcn - nextVcn) * spc);
    uint64_t from = std::max(r.FirstVcn, nextVcn);
    uint64_t clusters = r.LastVcn - from + 1;
    if (r.Sparse) {
      add(FoundObjectRun::Source::Zeros, 0, clusters * spc);
    } else {
      add(FoundObjectRun::Source::Volume, (static_cast<uint64_t>(r.Cluster) + (from - r.FirstVcn)) * spc,
          clusters * spc);
    }
    nextVcn = r.LastVcn + 1;
  }
}

template <typename Append>
void CFileSystem_NTFS::BuildCompressedRuns(const MftRecord& record, uint64_t& remaining, std::vector<FoundObjectRun>& runs,
                                           Append& append) const {
  // Each unit is stored one of three ways: all its clusters allocated (kept
  // as it is), none (zeros), or its first clusters holding LZNT1 data.
  const uint64_t spc = sectorsPerCluster_;
  const uint64_t unitClusters = uint64_t{1} << record.CompressionUnitShift;
  const uint64_t unitSectors = unitClusters * spc;
  if (unitSectors * 512 > kMaxCompressionUnitBytes) {
    // No writer makes such units; decoding one would take unbounded memory.
    // One undecodable run: reading the file fails instead of giving its raw
    // compressed bytes.
    theLog().AddError("CFileSystem_NTFS: compression unit too large to decode.");
    FoundObjectRun run;
    run.Kind = FoundObjectRun::Source::Compressed;
    run.SectorCount = remaining;
    remaining = 0;
    runs.push_back(std::move(run));
    return;
  }
  uint64_t mappedEnd = 0;  // the first virtual cluster after every run
  for (const MftRun& r : record.Runs) mappedEnd = std::max(mappedEnd, r.LastVcn + 1);
  for (uint64_t first = 0; remaining > 0; first += unitClusters) {
    // Past the last run, and across whole units of one sparse run, the data
    // are zeros: one run for all of them, however large the stream claims
    // to be.
    if (first >= mappedEnd) {
      append(FoundObjectRun::Source::Zeros, 0, remaining);
      break;
    }
    const VcnMapping head = record.MapVcnEx(first);
    if (head.Found && head.Sparse && head.ClustersLeft >= unitClusters) {
      const uint64_t units = head.ClustersLeft / unitClusters;
      const uint64_t sectors = remaining / unitSectors < units ? remaining : units * unitSectors;
      append(FoundObjectRun::Source::Zeros, 0, sectors);
      first += (units - 1) * unitClusters;
      continue;
    }
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    uint64_t allocated = 0;
    for (uint64_t vcn = first; vcn < first + unitClusters;) {
      const VcnMapping m = record.MapVcnEx(vcn);
      const uint64_t n = std::min<uint64_t>(std::max<uint64_t>(m.ClustersLeft, 1), first + unitClusters - vcn);
      if (m.Found && !m.Sparse && m.Cluster >= 0) {
        const uint64_t sector = static_cast<uint64_t>(m.Cluster) * spc;
        if (!pieces.empty() && pieces.back().first + pieces.back().second == sector) pieces.back().second += n * spc;
        else pieces.emplace_back(sector, n * spc);
        allocated += n;
      }
      vcn += n;
    }
    const uint64_t take = std::min(unitSectors, remaining);
    if (allocated == unitClusters) {
      uint64_t left = take;
      for (const auto& [start, count] : pieces) {
        const uint64_t n = std::min(count, left);
        append(FoundObjectRun::Source::Volume, start, n);
        left -= n;
      }
    } else if (allocated == 0) {
      append(FoundObjectRun::Source::Zeros, 0, take);
    } else {
      auto unit = std::make_shared<CompressedUnit>();
      unit->Pieces = std::move(pieces);
      unit->UnitBytes = unitSectors * 512;
      FoundObjectRun run;
      run.Kind = FoundObjectRun::Source::Compressed;
      run.SectorCount = take;
      run.Unit = std::move(unit);
      remaining -= take;
      runs.push_back(std::move(run));
    }
  }
}

void CFileSystem_NTFS::GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) {
  runs.clear();
  std::lock_guard lock(mutex_);
  try {
    bool ready = mftLoaded_ || (Volume && Volume->OpenDrive() && ReadBootSector() && LoadMFT());
    if (ready && object.ObjectID >= 0 && static_cast<uint64_t>(object.ObjectID) < RecordCount) {
      std::vector<uint8_t> buffer(RecordSize);
      MftRecord record(this);
      if (ReadRecord(static_cast<uint64_t>(object.ObjectID), buffer.data()) &&
          record.Load(buffer.data(), buffer.size())) {
        record.LoadAttributeList();
        // The record must still describe this object: a record found by the
        // sector scan may carry the number of a record the MFT now uses for
        // another file.
        CFoundObject check;
        record.FillObject(check);
        uint64_t firstCluster = 0;
        for (const MftRun& r : record.Runs)
          if (!r.Sparse) {
            firstCluster = static_cast<uint64_t>(r.Cluster);
            break;
          }
        bool same = (object.FirstCluster == 0 || object.FirstCluster == firstCluster) &&
                    (object.Name.empty() || check.Name.empty() || object.Name == check.Name);
        if (same) {
          BuildRuns(record, object.Size, runs);
          return;
        }
      }
    }
    // Not in the MFT: one stretch from the object's start.
    if (object.SizeKnown() && object.Size > 0 && object.StartOffset > 0) {
      FoundObjectRun run;
      run.StartSector = object.StartOffset / 512;
      run.SectorCount = (object.Size + 511) / 512;
      runs.push_back(run);
    }
  } catch (...) {
    runs.clear();
    theLog().AddError("CFileSystem_NTFS::GetRuns except");
  }
}
