#include "engine/filesystems/mft_record.h"

#include <algorithm>
#include <cstring>

#include "engine/filesystems/file_system_ntfs.h"
#include "services/format.h"
#include "services/text.h"

using namespace ntfs;

namespace {
// Attribute header sizes: the common part, the resident form, the
// non-resident form.
constexpr uint32_t kAttrHeaderCommon = 0x10;
constexpr uint32_t kAttrHeaderResident = 0x18;
constexpr uint32_t kAttrHeaderNonResident = 0x40;
// An attribute list longer than this is not followed.
constexpr size_t kMaxAttributeList = 1u << 20;
// Extension records read for one file at most.
constexpr size_t kMaxExtensions = 4096;
}  // namespace

bool MftRecord::Load(const uint8_t* data, size_t size) {
  loaded_ = false;
  damaged_ = false;
  lastRun_ = 0;
  Runs.clear();
  LoadedExtensions.clear();
  DataSize = 0;
  InitializedSize = 0;
  CompressionUnitShift = 0;
  DataEncrypted = false;
  NonResident = 0;
  ResidentDataPosition = -1;
  DataAttributeCount = 0;
  HasData = false;
  if (!data || size < kMinRecordSize || size > kMaxRecordSize) {
    Record.clear();
    return false;
  }
  Record.assign(data, data + size);
  if (Le32(Record.data()) != kFileSignature) return false;
  if (!ApplyFixup()) return false;
  int32_t first = FirstAttribute();
  if (first < 0) return false;
  loaded_ = true;
  LoadedExtensions.push_back(RecordNumber());
  for (int32_t a = first; a >= 0; a = NextAttribute(a)) {
    if (Le32(&Record[a]) != kAttrData) continue;
    ++DataAttributeCount;
    if (!HasData && IsUnnamed(a)) TakeDataAttribute(a);
  }
  return true;
}

bool MftRecord::ApplyFixup() {
  const size_t size = Record.size();
  if (size < 0x30) return false;
  uint32_t usaOffset = Le16(&Record[4]);
  uint32_t usaCount = Le16(&Record[6]);
  // The array holds the sequence number plus one entry per 512-byte block;
  // a count beyond the record's blocks, or an array outside the header area,
  // is a damaged record.
  if (usaCount == 0) return false;
  if (usaCount - 1 > size / kFixupStride) return false;
  if (usaOffset < 0x28 || usaOffset + 2ull * usaCount > size) return false;
  // Each block ends with the update sequence number until the fix-up puts
  // its own bytes back; a block that ends otherwise was not written with the
  // others (a torn write) and the record mixes two versions.
  for (uint32_t i = 1; i < usaCount; ++i) {
    size_t at = static_cast<size_t>(i) * kFixupStride - 2;
    if (Record[at] != Record[usaOffset] || Record[at + 1] != Record[usaOffset + 1]) return false;
  }
  for (uint32_t i = 1; i < usaCount; ++i) {
    size_t at = static_cast<size_t>(i) * kFixupStride - 2;
    Record[at] = Record[usaOffset + 2 * i];
    Record[at + 1] = Record[usaOffset + 2 * i + 1];
  }
  return true;
}

uint16_t MftRecord::RecordFlags() const { return Record.size() >= 0x18 ? Le16(&Record[0x16]) : 0; }
uint32_t MftRecord::RecordNumber() const { return Record.size() >= 0x30 ? Le32(&Record[0x2C]) : 0; }
uint16_t MftRecord::SequenceNumber() const { return Record.size() >= 0x12 ? Le16(&Record[0x10]) : 0; }
uint64_t MftRecord::BaseReference() const { return Record.size() >= 0x28 ? Le64(&Record[0x20]) : 0; }

int32_t MftRecord::FirstAttribute() const {
  if (Record.size() < 0x30) return -1;
  uint32_t first = Le16(&Record[0x14]);
  if (first < 0x18 || first + 4 > Record.size()) return -1;
  if (Le32(&Record[first]) == kAttrEnd) return -1;
  return AttributeFits(static_cast<int32_t>(first)) ? static_cast<int32_t>(first) : -1;
}

bool MftRecord::AttributeFits(int32_t offset) const {
  const size_t size = Record.size();
  if (offset < 0 || static_cast<size_t>(offset) + kAttrHeaderCommon > size) return false;
  const uint8_t* a = &Record[offset];
  uint32_t type = Le32(a);
  if (type == kAttrEnd) return false;
  uint32_t length = Le32(a + 4);
  if (length < kAttrHeaderResident || static_cast<uint64_t>(offset) + length > size) {
    damaged_ = true;
    return false;
  }
  // The name (length in characters at 9, offset at 10) must lie inside.
  uint32_t nameLength = a[9];
  uint32_t nameOffset = Le16(a + 10);
  if (nameLength && nameOffset + 2ull * nameLength > length) {
    damaged_ = true;
    return false;
  }
  if (a[8] == 0) {
    uint32_t contentLength = Le32(a + 0x10);
    uint32_t contentOffset = Le16(a + 0x14);
    if (static_cast<uint64_t>(contentOffset) + contentLength > length) {
      damaged_ = true;
      return false;
    }
  } else {
    if (length < kAttrHeaderNonResident) {
      damaged_ = true;
      return false;
    }
    uint32_t runOffset = Le16(a + 0x20);
    if (runOffset < kAttrHeaderNonResident || runOffset >= length) {
      damaged_ = true;
      return false;
    }
  }
  return true;
}

int32_t MftRecord::NextAttribute(int32_t offset) const {
  if (offset < 0 || static_cast<size_t>(offset) + 8 > Record.size()) return -1;
  uint32_t length = Le32(&Record[offset + 4]);
  if (length == 0) return -1;
  uint64_t next = static_cast<uint64_t>(offset) + length;
  if (next + 4 > Record.size()) return -1;
  if (Le32(&Record[next]) == kAttrEnd) return -1;
  return AttributeFits(static_cast<int32_t>(next)) ? static_cast<int32_t>(next) : -1;
}

int32_t MftRecord::FindAttribute(uint32_t type) const {
  for (int32_t a = FirstAttribute(); a >= 0; a = NextAttribute(a))
    if (Le32(&Record[a]) == type) return a;
  return -1;
}

int32_t MftRecord::FindNextAttribute(uint32_t type, int32_t after) const {
  for (int32_t a = NextAttribute(after); a >= 0; a = NextAttribute(a))
    if (Le32(&Record[a]) == type) return a;
  return -1;
}

bool MftRecord::IsUnnamed(int32_t offset) const { return Record[offset + 9] == 0; }

bool MftRecord::ResidentContent(int32_t offset, uint32_t& at, uint32_t& length) const {
  if (Record[offset + 8] != 0) return false;
  length = Le32(&Record[offset + 0x10]);
  at = static_cast<uint32_t>(offset) + Le16(&Record[offset + 0x14]);
  return true;  // AttributeFits checked that the content lies inside
}

const uint8_t* MftRecord::ResidentData() const {
  if (!HasData || NonResident || ResidentDataPosition < 0) return nullptr;
  return Record.data() + ResidentDataPosition;
}

void MftRecord::TakeSizes(const uint8_t* a) {
  DataSize = Le64(a + 0x30);
  InitializedSize = std::min(DataSize, Le64(a + 0x38));
  CompressionUnitShift = 0;
  // A compressed stream names its unit as a power of two of clusters; a
  // shift without the flag, or the flag without a shift, is no compression.
  if (Le16(a + 0x0C) & kAttrFlagCompressed) {
    const uint8_t shift = a[0x22];
    if (shift > 0 && shift <= kMaxCompressionUnitShift) CompressionUnitShift = shift;
    else if (shift != 0) damaged_ = true;
  }
}

void MftRecord::TakeDataAttribute(int32_t offset) {
  const uint8_t* a = &Record[offset];
  HasData = true;
  DataEncrypted = (Le16(a + 0x0C) & kAttrFlagEncrypted) != 0;
  if (a[8] == 0) {
    uint32_t at = 0, length = 0;
    ResidentContent(offset, at, length);
    NonResident = 0;
    DataSize = length;
    InitializedSize = length;
    ResidentDataPosition = static_cast<int32_t>(at);
    return;
  }
  NonResident = 1;
  // Only the extent that starts at virtual cluster 0 carries the sizes.
  if (Le64(a + 0x10) == 0) TakeSizes(a);
  if (!DecodeRuns(offset, Runs)) damaged_ = true;
  std::sort(Runs.begin(), Runs.end(), [](const MftRun& x, const MftRun& y) { return x.FirstVcn < y.FirstVcn; });
}

bool MftRecord::DecodeRuns(int32_t attributeOffset, std::vector<MftRun>& runs) const {
  if (!AttributeFits(attributeOffset) || Record[attributeOffset + 8] == 0) return false;
  const uint8_t* a = &Record[attributeOffset];
  const size_t end = static_cast<size_t>(attributeOffset) + Le32(a + 4);
  size_t p = static_cast<size_t>(attributeOffset) + Le16(a + 0x20);
  const uint64_t clusters = FileSystem ? FileSystem->ClusterCount() : 0;
  uint64_t vcn = Le64(a + 0x10);
  int64_t lcn = 0;
  while (true) {
    if (p >= end) return false;  // the list runs off the attribute
    uint8_t header = Record[p];
    if (header == 0) return true;
    uint32_t lengthBytes = header & 0x0F;
    uint32_t offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || p + 1 + lengthBytes + offsetBytes > end) return false;
    ++p;
    uint64_t length = 0;
    for (uint32_t i = 0; i < lengthBytes; ++i) length |= static_cast<uint64_t>(Record[p + i]) << (8 * i);
    p += lengthBytes;
    if (length == 0 || length > (1ull << 48)) return false;
    MftRun run;
    if (offsetBytes == 0) {
      run.Cluster = lcn;
      run.Sparse = 1;
    } else {
      uint64_t raw = 0;
      for (uint32_t i = 0; i < offsetBytes; ++i) raw |= static_cast<uint64_t>(Record[p + i]) << (8 * i);
      p += offsetBytes;
      int64_t delta;
      if (offsetBytes < 8 && (raw >> (8 * offsetBytes - 1)) & 1) {
        delta = static_cast<int64_t>(raw | (~0ull << (8 * offsetBytes)));
      } else {
        delta = static_cast<int64_t>(raw);
      }
      int64_t next;
      if (__builtin_add_overflow(lcn, delta, &next) || next < 0) return false;
      if (clusters && (static_cast<uint64_t>(next) >= clusters || length > clusters - static_cast<uint64_t>(next)))
        return false;
      lcn = next;
      run.Cluster = lcn;
    }
    run.Length = length;
    run.FirstVcn = vcn;
    if (__builtin_add_overflow(vcn, length, &vcn)) return false;
    run.LastVcn = vcn - 1;
    runs.push_back(run);
  }
}

VcnMapping MftRecord::MapVcnEx(uint64_t vcn) const {
  VcnMapping m;
  if (Runs.empty()) return m;
  size_t i = lastRun_ < Runs.size() ? lastRun_ : 0;
  if (!(Runs[i].FirstVcn <= vcn && vcn <= Runs[i].LastVcn)) {
    auto it = std::upper_bound(Runs.begin(), Runs.end(), vcn,
                               [](uint64_t v, const MftRun& r) { return v < r.FirstVcn; });
    if (it == Runs.begin()) return m;
    --it;
    if (vcn > it->LastVcn) return m;
    i = static_cast<size_t>(it - Runs.begin());
    lastRun_ = i;
  }
  const MftRun& r = Runs[i];
  m.Found = true;
  m.Sparse = r.Sparse != 0;
  m.Cluster = r.Cluster + static_cast<int64_t>(vcn - r.FirstVcn);
  m.ClustersLeft = r.LastVcn - vcn + 1;
  return m;
}

int64_t MftRecord::MapVcn(uint64_t vcn) const {
  VcnMapping m = MapVcnEx(vcn);
  return m.Found ? m.Cluster : -1;
}

uint32_t MftRecord::ReadData(uint64_t offset, uint32_t bytes, void* buffer) {
  if (!loaded_ || !HasData || offset >= DataSize) return 0;
  uint64_t want = std::min<uint64_t>(bytes, DataSize - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  if (!NonResident) {
    std::memcpy(out, Record.data() + ResidentDataPosition + offset, want);
    return static_cast<uint32_t>(want);
  }
  if (!FileSystem || FileSystem->ClusterBytes() == 0) return 0;
  const uint64_t clusterBytes = FileSystem->ClusterBytes();
  uint64_t done = 0;
  while (done < want) {
    uint64_t position = offset + done;
    VcnMapping m = MapVcnEx(position / clusterBytes);
    if (!m.Found) break;
    uint64_t within = position % clusterBytes;
    uint64_t piece = std::min<uint64_t>(want - done, m.ClustersLeft * clusterBytes - within);
    // Read at most a window at a time so a long run never needs one huge read.
    piece = std::min<uint64_t>(piece, 1u << 20);
    if (m.Sparse) {
      std::memset(out + done, 0, piece);
    } else {
      uint64_t at = static_cast<uint64_t>(m.Cluster) * clusterBytes + within;
      if (!FileSystem->ReadVolumeBytes(at, static_cast<uint32_t>(piece), out + done)) break;
    }
    done += piece;
  }
  return static_cast<uint32_t>(done);
}

bool MftRecord::FillObject(CFoundObject& object) {
  if (!loaded_) return false;
  ParentReference = 0;
  bool haveFileName = false;
  for (int32_t a = FirstAttribute(); a >= 0; a = NextAttribute(a)) {
    uint32_t type = Le32(&Record[a]);
    uint32_t at = 0, length = 0;
    if (type == kAttrStandardInformation) {
      if (!ResidentContent(a, at, length) || length < 0x20) continue;
      object.CreationTime = Le64(&Record[at]);
      object.ModificationTime = Le64(&Record[at + 8]);
      object.AccessTime = Le64(&Record[at + 0x18]);
      if (length >= 0x24 && (Le32(&Record[at + 0x20]) & kFileAttributeEncrypted)) object.Flags |= FOF_ENCRYPTED;
    } else if (type == kAttrFileName) {
      if (!ResidentContent(a, at, length) || length < 0x42) continue;
      const uint8_t* c = &Record[at];
      uint32_t nameLength = c[0x40];
      uint8_t nameSpace = c[0x41];
      if (0x42ull + 2ull * nameLength > length) continue;  // name beyond the attribute
      if (!haveFileName) {
        haveFileName = true;
        // The parent's record number; the sequence number in the high bits
        // is not part of the identity.
        object.ParentID = static_cast<int64_t>(RecordNumberOf(Le64(c)));
        ParentReference = Le64(c);
        object.Size = Le64(c + 0x30);
      }
      if (nameLength == 0) continue;
      if (nameSpace != kNameSpaceWin32 && (object.Flags & FOF_NAMED)) continue;
      object.SetName(qm::Utf16LeBytesToUtf8(c + 0x42, nameLength));
    }
  }
  if (!haveFileName) object.Size = 0;
  if (HasData) object.Size = std::max(object.Size, DataSize);
  if (HasData && DataEncrypted) object.Flags |= FOF_ENCRYPTED;
  return true;
}

bool MftRecord::ReadAttributeContent(int32_t offset, std::vector<uint8_t>& out, size_t limit) const {
  out.clear();
  uint32_t at = 0, length = 0;
  if (ResidentContent(offset, at, length)) {
    if (length > limit) return false;
    out.assign(Record.begin() + at, Record.begin() + at + length);
    return true;
  }
  if (!FileSystem) return false;
  const uint8_t* a = &Record[offset];
  uint64_t size = Le64(a + 0x30);
  if (size > limit || Le64(a + 0x10) != 0) return false;
  MftRecord reader(FileSystem);
  reader.loaded_ = true;
  reader.HasData = true;
  reader.NonResident = 1;
  reader.DataSize = size;
  if (!DecodeRuns(offset, reader.Runs)) return false;
  out.resize(size);
  uint32_t got = reader.ReadData(0, static_cast<uint32_t>(size), out.data());
  out.resize(got);
  return got == size;
}

void MftRecord::MergeRuns(const std::vector<MftRun>& more) {
  for (const MftRun& r : more) {
    // A run whose first virtual cluster is already mapped is a copy of one
    // present (the base record named in its own list, or an extent listed twice).
    if (MapVcnEx(r.FirstVcn).Found) continue;
    auto it = std::upper_bound(Runs.begin(), Runs.end(), r.FirstVcn,
                               [](uint64_t v, const MftRun& x) { return v < x.FirstVcn; });
    // Keep runs from overlapping: cut a run that runs into the next one.
    MftRun copy = r;
    if (it != Runs.end() && copy.LastVcn >= it->FirstVcn) {
      copy.LastVcn = it->FirstVcn - 1;
      copy.Length = copy.LastVcn - copy.FirstVcn + 1;
    }
    Runs.insert(it, copy);
  }
  lastRun_ = 0;
}

void MftRecord::LoadAttributeList() {
  if (!loaded_ || !FileSystem) return;
  const uint64_t own = RecordNumber();
  std::vector<uint8_t> list;
  std::vector<uint8_t> buffer(FileSystem->RecordSize);
  for (int32_t a = FindAttribute(kAttrAttributeList); a >= 0; a = FindNextAttribute(kAttrAttributeList, a)) {
    if (!ReadAttributeContent(a, list, kMaxAttributeList)) {
      FileSystem->LogDamage(qm::Format("CFileSystem_NTFS: attribute list of record %I64d not read.", own));
      continue;
    }
    size_t p = 0;
    while (p + 0x18 <= list.size()) {
      uint32_t type = Le32(&list[p]);
      uint32_t entryLength = Le16(&list[p + 4]);
      if (type == kAttrEnd || entryLength == 0) break;
      if (entryLength < 0x1A || p + entryLength > list.size()) break;
      uint8_t nameLength = list[p + 6];
      uint64_t number = RecordNumberOf(Le64(&list[p + 0x10]));
      p += entryLength;
      if (type != kAttrData || nameLength != 0) continue;
      if (std::find(LoadedExtensions.begin(), LoadedExtensions.end(), number) != LoadedExtensions.end()) continue;
      if (LoadedExtensions.size() >= kMaxExtensions) break;
      LoadedExtensions.push_back(number);
      if (FileSystem->ReadRecord(number, buffer.data()) == 0) continue;
      MftRecord extension(FileSystem);
      if (!extension.Load(buffer.data(), buffer.size())) continue;
      // An extension record names its base record; one that belongs to
      // another file is not merged.
      if (RecordNumberOf(extension.BaseReference()) != own) {
        FileSystem->LogDamage(qm::Format("CFileSystem_NTFS: record %I64d is not an extension of record %I64d.",
                                         number, own));
        continue;
      }
      std::vector<MftRun> more;
      for (int32_t d = extension.FindAttribute(kAttrData); d >= 0; d = extension.FindNextAttribute(kAttrData, d)) {
        if (!extension.IsUnnamed(d) || extension.Record[d + 8] == 0) continue;
        if (!HasData && Le64(&extension.Record[d + 0x10]) == 0) {
          HasData = true;
          NonResident = 1;
          TakeSizes(&extension.Record[d]);
        }
        extension.DecodeRuns(d, more);
      }
      if (HasData && NonResident) MergeRuns(more);
    }
  }
}
