// Directory entries of deleted FAT folders whose own entry is gone. The walk
// reaches a deleted folder only through its entry in a parent; when that
// entry was overwritten, or the folder's entries lie past its first cluster,
// nothing leads there. After the walk, the free clusters it did not read are
// read in long sequential runs, and a cluster that holds nothing but strictly
// valid directory entries (and unused slots) gives its files and folders to
// the catalog: under the placeholder of the folder its "." entry names, or
// under the orphan placeholder when it opens without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CFileSystem_FAT;

class CFatOrphanEntries {
public:
  // What an entry's cluster and size may be on the volume.
  struct Limits {
    uint32_t LastCluster = 0;  // highest cluster of the data area
    uint64_t DataBytes = 0;    // bytes of the data area
    bool Fat32 = false;        // the high word of the cluster counts
  };

  // A short entry (live or deleted) that a FAT writer could have written:
  // valid 8.3 name bytes with no gap, known attribute and case bits, no
  // volume label, valid dates and times, a cluster inside the data area and a
  // size that fits it (none for a folder, none without a cluster).
  static bool IsStrictShortEntry(const uint8_t* entry, const Limits& limits);
  // A long-name entry: its attribute, type and cluster fields as written,
  // a sequence number of 1 to 20 (or deleted), and nothing but 0xFFFF after
  // the name's terminator.
  static bool IsStrictLongNameEntry(const uint8_t* entry);
  // True when every 32-byte slot is a strict short entry, a strict long-name
  // entry or all zeros, no entry follows an unused slot, and at least one
  // short entry other than "." and ".." is there.
  static bool IsDirectoryCluster(const uint8_t* data, size_t bytes, const Limits& limits);
  // The folder identity (its first cluster) the entries of `cluster` belong
  // to: the cluster itself when it opens with the "." entry naming it and a
  // ".." entry; else the orphan placeholder's identity.
  static int64_t FolderOfCluster(const uint8_t* data, size_t bytes, uint32_t cluster, bool fat32);

  // Reads the free clusters not marked in `alreadyRead` (indexed by cluster)
  // and hands the entries of every directory cluster among them to the
  // parser's catalog. Stops with the analysis.
  static void Scan(CFileSystem_FAT& fat, const std::vector<bool>& alreadyRead);
};
