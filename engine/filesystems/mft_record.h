// One NTFS MFT record in memory: fix-ups, attribute walks, the run list of
// its unnamed data stream, data reads through that run list, and the values a
// found object takes from it.
//
// Everything in a record comes from the disk: every offset, length and count
// is checked against the record (and run lists against the volume) before it
// is used. A record that does not hold together is refused by Load; an
// attribute walk stops at the first attribute that does not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/catalog/found_object.h"

class CFileSystem_NTFS;

namespace ntfs {

constexpr uint32_t kFileSignature = 0x454C4946;  // "FILE"
constexpr uint32_t kAttrStandardInformation = 0x10;
constexpr uint32_t kAttrAttributeList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrVolumeName = 0x60;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;
constexpr uint16_t kAttrFlagCompressed = 0x0001;
constexpr uint16_t kAttrFlagEncrypted = 0x4000;
constexpr uint32_t kFileAttributeEncrypted = 0x4000;  // in $STANDARD_INFORMATION
// Units of more than 2^8 clusters are not made by any writer; refusing them
// bounds the memory one unit takes.
constexpr uint8_t kMaxCompressionUnitShift = 8;
constexpr uint16_t kRecordInUse = 0x0001;
constexpr uint16_t kRecordDirectory = 0x0002;
constexpr uint32_t kFixupStride = 512;
constexpr uint32_t kMinRecordSize = 512;
constexpr uint32_t kMaxRecordSize = 65536;
constexpr uint8_t kNameSpaceWin32 = 1;

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// A record number from a file reference (the low 48 bits; the high 16 are
// the sequence number).
inline uint64_t RecordNumberOf(uint64_t reference) { return reference & 0x0000FFFFFFFFFFFFull; }

}  // namespace ntfs

// One data run: `Length` clusters from `Cluster`, standing for the virtual
// clusters FirstVcn..LastVcn of the stream. A sparse run has no clusters on
// the volume and reads as zeros.
struct MftRun {
  int64_t Cluster = 0;
  uint64_t Length = 0;
  uint32_t Sparse = 0;
  uint64_t FirstVcn = 0;
  uint64_t LastVcn = 0;
};

// Where a virtual cluster lies.
struct VcnMapping {
  bool Found = false;
  bool Sparse = false;
  int64_t Cluster = -1;
  uint64_t ClustersLeft = 0;  // clusters of the same run from this one on
};

class MftRecord {
public:
  explicit MftRecord(CFileSystem_NTFS* fileSystem = nullptr) : FileSystem(fileSystem) {}

  // Copies a record of `size` bytes and parses it: fix-up, the first unnamed
  // $DATA attribute and its runs. False when it is not a "FILE" record or its
  // header does not hold together; the record is then not loaded.
  bool Load(const uint8_t* data, size_t size);
  bool Loaded() const { return loaded_; }

  // Puts the update sequence entries back at the end of each 512-byte block.
  // False when the array or its count does not fit the record, or when a
  // block does not end with the update sequence number (a torn write).
  bool ApplyFixup();

  // Offset of the first attribute of `type`, or -1. The walk stops at the end
  // marker, at a length of 0, and at an attribute that does not fit.
  int32_t FindAttribute(uint32_t type) const;
  // The next attribute of `type` after the one at `after`, or -1.
  int32_t FindNextAttribute(uint32_t type, int32_t after) const;
  // The attribute following the one at `offset` whatever its type; -1 at the end.
  int32_t NextAttribute(int32_t offset) const;
  int32_t FirstAttribute() const;

  // Decodes the run list of the non-resident attribute at `attributeOffset`
  // into `runs` (appended). False when the list is damaged; the runs decoded
  // before the damage are kept.
  bool DecodeRuns(int32_t attributeOffset, std::vector<MftRun>& runs) const;
  bool DecodeRuns(int32_t attributeOffset) { return DecodeRuns(attributeOffset, Runs); }

  // The cluster of a virtual cluster, or -1 (sparse runs map too: to the
  // cluster they keep).
  int64_t MapVcn(uint64_t vcn) const;
  VcnMapping MapVcnEx(uint64_t vcn) const;

  // Copies up to `bytes` of the data stream from `offset`; returns the bytes
  // copied. Non-resident data are read through the file system; sparse
  // clusters read as zeros; the read stops at a cluster that is not mapped or
  // cannot be read.
  uint32_t ReadData(uint64_t offset, uint32_t bytes, void* buffer);

  // Times, parent, size and name for a found object (and ParentReference).
  // False when the record is not loaded.
  bool FillObject(CFoundObject& object);

  // Follows the $ATTRIBUTE_LIST: reads each record that holds an extent of
  // the unnamed data stream and merges its runs by virtual cluster. Records
  // already merged (and this record itself) are not read again.
  void LoadAttributeList();
  bool HasAttributeList() const { return FindAttribute(ntfs::kAttrAttributeList) >= 0; }

  // The record's fields.
  uint16_t RecordFlags() const;
  uint32_t RecordNumber() const;
  uint16_t SequenceNumber() const;
  uint64_t BaseReference() const;
  bool InUse() const { return RecordFlags() & ntfs::kRecordInUse; }
  bool IsDirectory() const { return RecordFlags() & ntfs::kRecordDirectory; }
  bool Damaged() const { return damaged_; }

  // The resident data, or empty.
  const uint8_t* ResidentData() const;

  CFileSystem_NTFS* FileSystem = nullptr;
  std::vector<uint8_t> Record;
  std::vector<MftRun> Runs;
  std::vector<uint64_t> LoadedExtensions;
  uint64_t DataSize = 0;
  // Bytes of the data that were ever written (valid data length); what lies
  // beyond reads as zeros.
  uint64_t InitializedSize = 0;
  uint8_t NonResident = 0;
  int32_t ResidentDataPosition = -1;
  int32_t DataAttributeCount = 0;
  bool HasData = false;
  // Clusters per compression unit as a power of two; 0 when the data stream
  // is not compressed.
  uint8_t CompressionUnitShift = 0;
  // The data stream is encrypted (its attribute says so).
  bool DataEncrypted = false;
  bool Compressed() const { return NonResident && CompressionUnitShift != 0; }
  // The parent reference (with its sequence number) FillObject took.
  uint64_t ParentReference = 0;

private:
  // Checks the attribute at `offset`: its header and length fit the record
  // and its resident content or run-list offset fits the attribute.
  bool AttributeFits(int32_t offset) const;
  bool IsUnnamed(int32_t offset) const;
  // The content of a resident attribute: offset in the record and length.
  bool ResidentContent(int32_t offset, uint32_t& at, uint32_t& length) const;
  // Takes the unnamed $DATA attribute at `offset` as the data stream.
  void TakeDataAttribute(int32_t offset);
  // Sizes and compression unit from the non-resident attribute header at `a`.
  void TakeSizes(const uint8_t* a);
  // Reads the whole content of the attribute at `offset` (resident or not),
  // at most `limit` bytes.
  bool ReadAttributeContent(int32_t offset, std::vector<uint8_t>& out, size_t limit) const;
  void MergeRuns(const std::vector<MftRun>& more);

  bool loaded_ = false;
  mutable bool damaged_ = false;
  mutable size_t lastRun_ = 0;
};
