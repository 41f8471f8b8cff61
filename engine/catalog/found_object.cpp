#include "engine/catalog/found_object.h"

#include <charconv>

#include <algorithm>
#include <cstring>

#include <unictype.h>
#include <unistr.h>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/filesystems/lznt1.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/format.h"
#include "services/log.h"
#include "services/strings.h"

namespace {
constexpr uint32_t kSector = 512;
constexpr uint32_t kFail = 0x80004005;

uint64_t SectorsFor(uint64_t bytes) { return bytes / kSector + (bytes % kSector ? 1 : 0); }
}  // namespace

void CFoundObject::SetName(std::string_view name) {
  if (name.empty()) return;
  Name.assign(name);
  Flags |= FOF_NAMED | FOF_OWNS_NAME;
}

uint32_t CFoundObject::CheckBounds() const {
  if (!Volume) return kFail;
  const uint64_t limit = Volume->Size;
  if (limit == SIZE_UNKNOWN) return 0;
  if (Size > limit || StartOffset > limit) return kFail;
  return 0;
}

void CFoundObject::MakeLostFileName() {
  if (!Name.empty()) return;
  const CFileSignatureDatabase& db = theComputer().Signatures();
  const CFileType* type = FileType ? db.FindById(FileType) : nullptr;
  if (!type) type = db.FindTypeForObject(*this);
  SetName(LostFileName(db, type ? type->Id : 0, StartOffset));
}

namespace {

// Characters a name may keep from a label: letters, marks and digits of
// any script, blanks and a few signs. Not kept: controls, separators,
// invisible format and direction marks, and what is no character.
bool KeptInName(ucs4_t c) {
  if (c == ' ' || c == '-' || c == '_' || c == ',') return true;
  return uc_is_general_category(c, UC_LETTER) || uc_is_general_category(c, UC_MARK) ||
         uc_is_general_category(c, UC_DECIMAL_DIGIT_NUMBER);
}

// A label (a capture date, a document's title) as a part of a file name:
// what KeptInName refuses, and bytes that are no UTF-8, become "_" (one for
// a run), and at most 64 bytes are kept, never half a character.
std::string CleanLabel(std::string_view label) {
  constexpr size_t kMaxLabelBytes = 64;
  std::string clean;
  for (size_t i = 0; i < label.size();) {
    ucs4_t cp = 0;
    const int got = u8_mbtoucr(&cp, reinterpret_cast<const uint8_t*>(label.data()) + i, label.size() - i);
    const size_t n = got > 0 ? static_cast<size_t>(got) : 0;
    const bool keep = n != 0 && KeptInName(cp);
    const std::string_view piece = keep ? label.substr(i, n) : "_";
    i += n ? n : 1;
    if (piece == "_" && !clean.empty() && clean.back() == '_') continue;
    if (clean.size() + piece.size() > kMaxLabelBytes) break;
    clean += piece;
  }
  while (!clean.empty() && (clean.back() == ' ' || clean.back() == '_')) clean.pop_back();
  while (!clean.empty() && (clean.front() == ' ' || clean.front() == '_')) clean.erase(0, 1);
  return clean;
}

}  // namespace

std::string CFoundObject::LostFileName(const CFileSignatureDatabase& db, int32_t typeId, uint64_t offset,
                                       std::string_view label) {
  const CFileType* type = typeId ? db.FindById(typeId) : nullptr;
  if (!type) {
    std::string format = GetString(4355);
    if (format.empty()) format = "lost_file_%I64d";
    return qm::Format(format, offset);
  }
  // "<prefix>[_<label>]_<offset>[.<extension>]", put together directly: the
  // scan names every lost file it finds this way.
  const std::string clean = CleanLabel(label);
  std::string extension = CFileSignatureDatabase::FirstExtensionOf(type->FileExtensions);
  if (extension.empty()) extension = type->FirstExtension;
  char digits[24];
  const auto printed = std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(offset));
  std::string name;
  name.reserve(type->Prefix.size() + clean.size() + extension.size() + 24);
  name += type->Prefix;
  if (!clean.empty()) name.append("_").append(clean);
  name += '_';
  name.append(digits, printed.ptr);
  if (!extension.empty()) name.append(".").append(extension);
  return name;
}

std::string CFoundObject::GetFullPath() const {
  if (!Volume) return "/";
  return Volume->Catalog().GetFullPath(this);
}

// ---------------------------------------------------------------------------
// Reader

namespace {

// The single stretch that objects without file-system runs read as: from
// their start for Size bytes (rounded up to whole sectors), kept inside the
// volume when the volume's size is known.
void SingleRun(const CFoundObject& object, std::vector<FoundObjectRun>& runs) {
  FoundObjectRun run;
  run.StartSector = object.StartOffset != 0 ? object.StartOffset / kSector : object.FirstCluster / kSector;
  run.SectorCount = SectorsFor(object.Size);
  if (object.Volume && object.Volume->Size != SIZE_UNKNOWN && object.Volume->Size != 0) {
    const uint64_t volumeSectors = SectorsFor(object.Volume->Size);
    const uint64_t room = run.StartSector < volumeSectors ? volumeSectors - run.StartSector : 0;
    if (!object.SizeKnown() || run.SectorCount > room) run.SectorCount = room;
  }
  runs.push_back(run);
}

bool CameFromFileSystemWalk(const CFoundObject& object) {
  if (object.Flags & FOF_SIGNATURE) return false;
  // Synthetic objects (volume records, the boot object, group and lost
  // folders) carry identities below -1; -1 is a FAT entry without a cluster.
  if (IsSyntheticIdentity(object.ObjectID)) return false;
  if (object.Volume && static_cast<const CFoundObject*>(object.Volume) == &object) return false;
  return true;
}

}  // namespace

CFoundObjectReader::CFoundObjectReader(const CFoundObject& record) : Object(record) {
  const bool askFileSystem =
      (Object.Flags & FOF_FS_RUNS) || !(Object.Flags & FOF_NAMED) || CameFromFileSystemWalk(Object);
  if (askFileSystem && Object.Volume) {
    try {
      Object.Volume->FileSystem().GetRuns(Object, Runs);
    } catch (...) {
      Runs.clear();
    }
  }
  if (!Runs.empty()) return;
  if (Object.Size == 0) return;
  // A file-system object with no location at all has no data to read:
  // reading it from sector 0 would hand out the boot sector as its content.
  if (CameFromFileSystemWalk(Object) && Object.StartOffset == 0 && Object.FirstCluster == 0) return;
  SingleRun(Object, Runs);
}

CFoundObjectReader::CFoundObjectReader(const CFoundObject& record, std::vector<FoundObjectRun> runs)
    : Object(record), Runs(std::move(runs)) {}

namespace {

// Reads and decodes one compression unit into `unit`; false when its
// sectors cannot be read or its compressed bytes do not hold together.
bool DecodeUnit(CVolume* volume, const CompressedUnit& source, std::vector<uint8_t>& unit) {
  unit.assign(source.UnitBytes, 0);
  if (!volume) return false;
  std::vector<uint8_t> packed;
  for (const auto& [start, count] : source.Pieces) {
    // The compressed bytes never exceed the unit they decode to.
    if (count > (source.UnitBytes - packed.size()) / kSector) return false;
    const size_t at = packed.size();
    packed.resize(at + count * kSector);
    if (volume->ReadSectors(packed.data() + at, start, count) < count * kSector) return false;
  }
  const lznt1::Result r = lznt1::Decompress(packed.data(), packed.size(), unit.data(), unit.size());
  if (r.Damaged) {
    theLog().AddError(qm::Format("Compressed data damaged in the unit at sector %I64d.",
                                 source.Pieces.empty() ? 0 : source.Pieces.front().first));
    return false;
  }
  return true;
}

// Reads `sectors` sectors of one run at `index` sectors into it; returns the
// bytes delivered (at most sectors * 512).
uint64_t ReadFromRun(CVolume* volume, const FoundObjectRun& run, uint64_t index, uint64_t sectors, uint8_t* out,
                     uint64_t& unreadableBytes, const std::function<bool()>& keepWaiting) {
  const uint64_t bytes = sectors * kSector;
  switch (run.Kind) {
    case FoundObjectRun::Source::Compressed:
      return 0;  // decoded by the reader, which keeps the unit
    case FoundObjectRun::Source::Zeros:
      std::memset(out, 0, bytes);
      return bytes;
    case FoundObjectRun::Source::Inline: {
      std::memset(out, 0, bytes);
      if (run.Inline) {
        const std::vector<uint8_t>& data = *run.Inline;
        const uint64_t from = index * kSector;
        if (from < data.size()) {
          const uint64_t n = std::min<uint64_t>(bytes, data.size() - from);
          std::memcpy(out, data.data() + from, n);
        }
      }
      return bytes;
    }
    case FoundObjectRun::Source::Volume:
    default:
      if (!volume) return 0;
      if (run.StartSector > ~0ull - index) return 0;
      {
        const SalvagedRead got = volume->ReadSectorsSalvaging(out, run.StartSector + index, sectors, keepWaiting);
        // A drive that stalls or is gone ends the object here; nothing read
        // at all is a failure, not a run of zeros.
        if (got.DeviceLost || got.Unreadable >= got.Sectors) return 0;
        unreadableBytes += got.Unreadable * kSector;
        return std::min<uint64_t>(got.Sectors * kSector, bytes);
      }
  }
}

}  // namespace

uint32_t CFoundObjectReader::ReadNext(void* buffer, uint32_t bytes) {
  if (!buffer || bytes == 0 || CurrentRun < 0) return 0;
  // Empty runs carry no data; passing over them keeps one call from
  // returning 0 in the middle of an object.
  while (static_cast<size_t>(CurrentRun) < Runs.size() && SectorsDone >= Runs[CurrentRun].SectorCount) {
    ++CurrentRun;
    SectorsDone = 0;
  }
  if (static_cast<size_t>(CurrentRun) >= Runs.size()) return 0;

  const FoundObjectRun& run = Runs[CurrentRun];
  const uint64_t wanted = SectorsFor(bytes);
  const uint64_t remaining = run.SectorCount - SectorsDone;
  const uint64_t take = std::min(wanted, remaining);
  const uint64_t whole = bytes / kSector;  // sectors that fit the buffer entirely
  auto* out = static_cast<uint8_t*>(buffer);

  uint64_t delivered = 0;
  const uint64_t direct = std::min(take, whole);
  if (run.Kind == FoundObjectRun::Source::Compressed) {
    // A unit that cannot be decoded is a failed read, never its raw bytes.
    if (unitRun_ != CurrentRun) {
      unitRun_ = -1;
      if (run.Unit && DecodeUnit(Object.Volume, *run.Unit, unitData_)) unitRun_ = CurrentRun;
    }
    if (unitRun_ == CurrentRun) {
      const uint64_t from = SectorsDone * kSector;
      const uint64_t n = from < unitData_.size() ? std::min<uint64_t>(bytes, unitData_.size() - from) : 0;
      const uint64_t available = std::min<uint64_t>(n, take * kSector);
      std::memcpy(out, unitData_.data() + from, available);
      delivered = available;
    }
  } else if (direct > 0) {
    delivered = ReadFromRun(Object.Volume, run, SectorsDone, direct, out, UnreadableBytes, KeepWaiting);
  }
  if (run.Kind != FoundObjectRun::Source::Compressed && take > direct && delivered == direct * kSector) {
    // The last sector only partly fits: read it aside and hand out its head.
    uint8_t sector[kSector];
    const uint64_t got = ReadFromRun(Object.Volume, run, SectorsDone + direct, 1, sector, UnreadableBytes, KeepWaiting);
    const uint64_t tail = bytes % kSector;
    const uint64_t n = std::min(got, tail);
    std::memcpy(out + delivered, sector, n);
    delivered += n;
  }

  // The position moves on even when the read failed, so a caller that
  // retries never spins on the same sectors.
  SectorsDone += take;
  if (SectorsDone >= run.SectorCount) {
    ++CurrentRun;
    SectorsDone = 0;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(delivered, bytes));
}
