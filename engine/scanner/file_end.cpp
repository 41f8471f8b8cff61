#include "engine/scanner/file_end.h"

#include <algorithm>
#include <initializer_list>
#include <new>
#include <vector>

#include "engine/catalog/found_object.h"
#include "engine/scanner/file_signature_database.h"

namespace {

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t GiB = 1ull << 30;

struct FinderEntry {
  std::initializer_list<int32_t> Types;
  EndFinder Finder;
  uint64_t Limit;
};

// The type ids of the shipped database each finder serves, and the largest
// file each accepts. Finders that must read the whole file to find its end
// (JPEG, PNG, GIF, PDF, gzip) get bounds near the largest real files of
// their kind, since a lost end costs a read up to the bound.
const FinderEntry kFinders[] = {
    {{30, 31, 32}, JpegEnd, 128 * MiB},
    {{33, 52, 53}, PngEnd, 256 * MiB},
    {{34}, GifEnd, 128 * MiB},
    {{503}, BmpEnd, 4 * GiB},
    {{35, 36, 70, 74, 75}, TiffEnd, 4 * GiB},
    {{110}, PdfEnd, 512 * MiB},
    {{150, 112, 113, 114, 115, 116, 117, 166, 63, 64}, ZipEnd, 64 * GiB},
    {{153}, SevenZipEnd, 256 * GiB},
    {{151, 152}, RarEnd, 64 * GiB},
    {{154}, GzipEnd, 1 * GiB},
    {{100, 101, 104, 105, 106, 107, 109, 500, 501, 520, 521}, CompoundDocumentEnd, 4 * GiB},
    {{180, 200, 40, 65}, RiffEnd, 64 * GiB},
    {{181, 56}, IffEnd, 4 * GiB},
    {{43, 44, 72, 192, 201, 202, 203, 204, 205}, IsoMediaEnd, 256 * GiB},
    {{206, 207}, MatroskaEnd, 256 * GiB},
    {{185, 186, 214}, OggEnd, 4 * GiB},
    {{184}, FlacEnd, 4 * GiB},
    {{182, 183}, Mp3End, 1 * GiB},
    {{231, 232}, ElfEnd, 4 * GiB},
    {{230}, PeEnd, 4 * GiB},
    {{142}, SqliteEnd, 256 * GiB},
};

const FinderEntry* EntryFor(int32_t typeId) {
  for (const FinderEntry& e : kFinders)
    if (std::find(e.Types.begin(), e.Types.end(), typeId) != e.Types.end()) return &e;
  return nullptr;
}

}  // namespace

EndFinder EndFinderFor(int32_t typeId) {
  const FinderEntry* e = EntryFor(typeId);
  return e ? e->Finder : nullptr;
}

FileEnd FindFileEnd(EndFinder finder, CFileBytes& file, const FileStartTest& startsFile) {
  constexpr uint64_t kSector = 512;
  constexpr uint64_t kMaxSectorsTested = 16384;
  FileEnd end = finder(file);
  if (end.Result == FileEnd::Found && end.Size > file.Limit()) return {};
  if (end.Result != FileEnd::Cut) return end;
  const uint64_t bad = std::min(end.Size, file.Limit());
  const uint64_t good = std::min(end.GoodUpTo, bad);
  uint64_t cut = std::max(good, bad / kSector * kSector);
  if (startsFile) {
    uint64_t tested = 0;
    for (uint64_t s = std::max<uint64_t>(kSector, (good + kSector - 1) / kSector * kSector);
         s < bad && tested < kMaxSectorsTested; s += kSector, ++tested) {
      const uint8_t* sector = file.At(s, kSector);
      if (!sector) break;
      if (startsFile(sector)) {
        cut = s;
        break;
      }
    }
  }
  end.Size = cut;
  if (end.Size == 0) return FileEnd::Bad();
  return end;
}

bool ApplyFileEnd(CFoundObject& object, CScanBytes& bytes, const CFileSignatureDatabase& db) {
  const FinderEntry* entry = EntryFor(object.FileType);
  if (!entry) return true;
  CFileBytes file(bytes, object.StartOffset, entry->Limit);
  std::vector<const CFileType*> matches;
  const FileStartTest startsFile = [&db, &matches](const uint8_t* sector) {
    matches.clear();
    db.MatchSector(sector, matches);
    return !matches.empty();
  };
  FileEnd end;
  try {
    end = FindFileEnd(entry->Finder, file, startsFile);
  } catch (const std::bad_alloc&) {
    return true;  // the walk could not be made: the default rules decide
  }
  switch (end.Result) {
    case FileEnd::NotAFile:
      return false;
    case FileEnd::Cut:
      object.Flags |= FOF_CUT;
      [[fallthrough]];
    case FileEnd::Found:
      object.Size = end.Size;
      object.Flags |= FOF_SIZED;
      break;
    case FileEnd::Unknown:
      break;
  }
  if (!end.Label.empty()) object.SetName(CFoundObject::LostFileName(db, object.FileType, object.StartOffset, end.Label));
  return true;
}
