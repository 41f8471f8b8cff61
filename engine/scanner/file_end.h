// End finders: where a lost file ends, told by its own structure. One small
// finder per format walks the file from its first byte (markers, chunks,
// boxes, headers, tables), checking what it walks, within hard bounds on the
// steps it takes and the size it accepts. It reads through CFileBytes: the
// scan's block in memory and a few sectors of the volume.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/scanner/scan_bytes.h"

struct FileEnd {
  enum Kind {
    Unknown,   // the walk could not tell the end: the probable-size rules decide
    NotAFile,  // the structure is not the format's: the match is dropped
    Found,     // Size is the file's size
    Cut,       // the structure breaks off between GoodUpTo and Size
  };
  Kind Result = Unknown;
  uint64_t Size = 0;
  // For Cut: the end of the last part of the structure that checked out.
  uint64_t GoodUpTo = 0;
  // What the content calls itself, for the file's name (a capture date, a
  // title); empty when nothing.
  std::string Label;

  static FileEnd Bad() { return {NotAFile, 0, 0, {}}; }
  static FileEnd At(uint64_t size) { return {size ? Found : NotAFile, size, 0, {}}; }
  // The structure checked out up to `good` and is broken at `bad`.
  static FileEnd Broken(uint64_t good, uint64_t bad) { return {Cut, bad, good, {}}; }
  // A break found at `at`, with nothing known about where it began.
  static FileEnd BreakAt(uint64_t at) { return Broken(at, at); }
};

using EndFinder = FileEnd (*)(CFileBytes& file);

struct CFoundObject;
class CFileSignatureDatabase;

// Whether a sector of 512 bytes is the first of a file (of another type).
using FileStartTest = std::function<bool(const uint8_t* sector)>;

// Runs a finder and settles its answer: an end past the file's size bound
// is no end; a break is placed at the first sector after the good part that
// starts another file, else at the sector the break lies in (files and
// their neighbours start on sector boundaries), never before the good part.
FileEnd FindFileEnd(EndFinder finder, CFileBytes& file, const FileStartTest& startsFile);

// Runs the finder of a lost file's type on it: a found end becomes its size,
// a break its size and FOF_CUT, a label its name. False when the structure
// shows the match is no file of its type (the object should be dropped).
bool ApplyFileEnd(CFoundObject& object, CScanBytes& bytes, const CFileSignatureDatabase& db);

// The finder of a type id, or null for types that carry no end.
EndFinder EndFinderFor(int32_t typeId);

// The finders, one per format (file_ends/).
FileEnd JpegEnd(CFileBytes& file);
FileEnd PngEnd(CFileBytes& file);
FileEnd GifEnd(CFileBytes& file);
FileEnd BmpEnd(CFileBytes& file);
FileEnd TiffEnd(CFileBytes& file);
FileEnd PdfEnd(CFileBytes& file);
FileEnd ZipEnd(CFileBytes& file);
FileEnd SevenZipEnd(CFileBytes& file);
FileEnd RarEnd(CFileBytes& file);
FileEnd GzipEnd(CFileBytes& file);
FileEnd CompoundDocumentEnd(CFileBytes& file);
FileEnd RiffEnd(CFileBytes& file);
FileEnd IffEnd(CFileBytes& file);
FileEnd IsoMediaEnd(CFileBytes& file);
FileEnd MatroskaEnd(CFileBytes& file);
FileEnd OggEnd(CFileBytes& file);
FileEnd FlacEnd(CFileBytes& file);
FileEnd Mp3End(CFileBytes& file);
FileEnd ElfEnd(CFileBytes& file);
FileEnd PeEnd(CFileBytes& file);
FileEnd SqliteEnd(CFileBytes& file);
