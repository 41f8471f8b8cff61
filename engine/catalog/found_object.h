// One found file or folder, and the reader that reads its data along its runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CVolume;
class CFileSignatureDatabase;

constexpr uint16_t FOF_DELETED = 0x0001;
constexpr uint16_t FOF_FILE = 0x0002;
constexpr uint16_t FOF_FOLDER = 0x0004;
// A deleted file whose data may lie in more pieces than the file system
// still knows of: read in one piece from its start, it may come back wrong.
constexpr uint16_t FOF_POSSIBLY_INCOMPLETE = 0x0008;
constexpr uint16_t FOF_HAS_DELETED = 0x0010;
// A lost file whose size its own content told (its structure or header):
// neither the probable-size rules nor the next file found change it.
constexpr uint16_t FOF_SIZED = 0x0020;
constexpr uint16_t FOF_FS_RUNS = 0x0040;
constexpr uint16_t FOF_NAMED = 0x0080;
constexpr uint16_t FOF_MFT_RECORD = 0x0100;
constexpr uint16_t FOF_LOST_FOLDER = 0x0200;
constexpr uint16_t FOF_OWNS_NAME = 0x0400;
// A lost file whose structure broke off (its data turns into another file's):
// cut there, possibly incomplete.
constexpr uint16_t FOF_CUT = 0x0800;
constexpr uint16_t FOF_SIGNATURE = 0x1000;
constexpr uint16_t FOF_CONFIRMED = 0x2000;
constexpr uint16_t FOF_FOUND_VOLUME = 0x4000;
// Encrypted by its file system with its owner's key (NTFS EFS): its data can
// only be had as the encrypted bytes.
constexpr uint16_t FOF_ENCRYPTED = 0x8000;

constexpr int64_t ROOT_ID = 0;
constexpr int64_t LOST_FRAGMENTS_ID = -18;
constexpr int64_t LOST_FILES_ID = -19;
constexpr int64_t VIEW_TOP_ID = -12;
constexpr uint64_t SIZE_UNKNOWN = ~0ull;

// Identities below -1 belong to records the program makes itself (the
// volumes, the views' nodes, the lost-fragments and lost-files folders, the
// lost files' group folders). -1 is a real file: a FAT entry in the root
// directory without a first cluster (an empty file).
constexpr bool IsSyntheticIdentity(int64_t id) { return id < -1; }

// The record part of a found object. Plain data: copied by value; the name is
// UTF-8 (converted from the on-disk encoding by the parser that found it).
struct CFoundObject {
  uint64_t FirstCluster = 0;
  uint64_t Size = SIZE_UNKNOWN;
  uint64_t StartOffset = 0;
  uint16_t Flags = 0;
  uint16_t Attributes = 0;
  int16_t FileType = 0;
  int64_t ObjectID = 0;
  int64_t ParentID = 0;
  uint64_t CreationTime = 0;
  uint64_t ModificationTime = 0;
  uint64_t AccessTime = 0;
  std::string Name;
  CVolume* Volume = nullptr;
  intptr_t TreeItem = -1;

  // Back to the initial values.
  void Initialize() { *this = CFoundObject(); }
  // Copies the name (an empty name changes nothing) and sets FOF_NAMED and
  // FOF_OWNS_NAME.
  void SetName(std::string_view name);

  bool IsDeleted() const { return Flags & FOF_DELETED; }
  bool IsFolder() const { return Flags & FOF_FOLDER; }
  bool HasDeleted() const { return Flags & FOF_HAS_DELETED; }
  bool SizeKnown() const { return Size != SIZE_UNKNOWN; }

  // 0 when Size and StartOffset both lie within the volume, else E_FAIL.
  uint32_t CheckBounds() const;
  // Names a nameless object found by signature.
  void MakeLostFileName();
  // The name of a lost file: "<prefix>_<offset>.<ext>" of its type, with what
  // its content calls itself before the offset when there is such a label
  // ("Jpeg_2024-06-01 14-03-22_677376.jpg"). The label is cleaned of every
  // character a name should not carry.
  static std::string LostFileName(const CFileSignatureDatabase& db, int32_t type, uint64_t offset,
                                  std::string_view label = {});
  // The folder path of the object, "/"-separated, ending in "/".
  std::string GetFullPath() const;
};

// A stretch of an object's data. Most runs are sectors of the volume; a
// sparse stretch reads as zeros; data kept inside file-system metadata (NTFS
// resident data) is carried inline.
// One compression unit of a compressed stream: the volume sectors holding
// its compressed bytes, in order, and the bytes it decodes to.
struct CompressedUnit {
  std::vector<std::pair<uint64_t, uint64_t>> Pieces;  // (start sector, sector count)
  uint64_t UnitBytes = 0;
};

struct FoundObjectRun {
  enum class Source : uint8_t { Volume, Zeros, Inline, Compressed };
  uint64_t StartSector = 0;   // sector number from the start of the volume
  uint64_t SectorCount = 0;
  Source Kind = Source::Volume;
  std::shared_ptr<const std::vector<uint8_t>> Inline;  // SectorCount * 512 bytes for Source::Inline
  // Source::Compressed: decoded when read; SectorCount is the decoded sectors
  // the object takes from it (the last unit may be cut by the object's end).
  std::shared_ptr<const CompressedUnit> Unit;
};

// "Making a reader from a record": a copy of the record with its run list,
// read in order with ReadNext.
class CFoundObjectReader {
public:
  // Copies the record and builds its runs (through the volume's file system
  // when FOF_FS_RUNS is set or the object has no name).
  explicit CFoundObjectReader(const CFoundObject& record);
  // A reader over runs given by the caller.
  CFoundObjectReader(const CFoundObject& record, std::vector<FoundObjectRun> runs);

  // Reads the next piece: never crosses a run; returns exactly `bytes` when
  // `bytes` is not a multiple of 512 and the run has enough sectors; 0 when the
  // runs are used up or the read failed.
  uint32_t ReadNext(void* buffer, uint32_t bytes);

  CFoundObject Object;
  std::vector<FoundObjectRun> Runs;
  int32_t CurrentRun = 0;
  uint64_t SectorsDone = 0;
  // Bytes handed out as zeros because their sectors could not be read (a
  // failed read is read again sector by sector, so the rest still comes).
  uint64_t UnreadableBytes = 0;
  // While this holds, a read whose medium went away waits for it to come
  // back (the volume's rule; unset: while an analysis runs).
  std::function<bool()> KeepWaiting;

private:
  // The decoded unit of the compressed run `unitRun_`, kept while it is read.
  std::vector<uint8_t> unitData_;
  int32_t unitRun_ = -1;
};
