// The computer's disks and partitions as the kernel lists them in sysfs, and
// the facts the system libraries give about a block device: its file system,
// label and UUID (libblkid), where it is mounted (/proc/self/mountinfo) and
// how much room is free there (statvfs).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm {

// One disk or partition of /sys/block.
struct BlockDeviceInfo {
  std::string Name;        // kernel name: "sdb", "sdb1", "nvme0n1p2", "loop3"
  std::string DevicePath;  // "/dev/" + Name
  std::string DiskName;    // the whole disk (a disk's own name)
  bool IsPartition = false;
  uint32_t PartitionNumber = 0;
  // In 512-byte units, as sysfs counts them whatever the sector size.
  uint64_t StartSector = 0;
  uint64_t SizeSectors = 0;
  bool Removable = false;
  uint32_t Major = 0, Minor = 0;
  std::string Vendor, Model, Serial;
  std::string BackingFile;  // a loop device's image file
};

// The first line of a sysfs attribute file, trimmed; "" when it is missing.
std::string ReadSysfsText(const std::string& path);

// True for the kernel names of the disks the drive list shows: sd*, nvme*,
// mmcblk*, vd*, xvd* and loop* (optical drives, RAM disks, device-mapper
// and md arrays are left out).
bool IsListedDiskName(const std::string& name);
// Orders kernel names the way a person counts them: "sdb" < "sdaa",
// "loop2" < "loop10", "nvme0n1" < "nvme1n1".
bool KernelNameLess(const std::string& a, const std::string& b);

// The listed disks of `sysRoot`/block in name order, each followed by its
// partitions in partition-number order. A loop device without a backing
// file (not attached) is left out. `sysRoot` is "/sys" except in tests.
std::vector<BlockDeviceInfo> EnumerateBlockDevices(const std::string& sysRoot = "/sys");
// Mount points by device number "MAJ:MIN", from the text of a mountinfo
// file; the first mount of a device wins (octal escapes such as "\040" in
// paths are decoded).
std::map<std::string, std::string> ParseMountInfo(const std::string& text);
// The mount point of a device in /proc/self/mountinfo, or "".
std::string FindMountPoint(uint32_t major, uint32_t minor);

// What libblkid reads from a device's superblock.
struct BlockIdFacts {
  bool Probed = false;     // the device could be opened and probed
  std::string Type;        // "vfat", "ntfs", "ext4"; "" when none found
  std::string Label;
  std::string Uuid;
  // The volume serial number the UUID spells ("1A2B-3C4D" for FAT, sixteen
  // hex digits for NTFS); 0 for longer UUIDs.
  uint64_t Serial = 0;
  int Error = 0;           // errno when the device could not be opened
};
BlockIdFacts ProbeBlockId(const std::string& devicePath);
// The serial number a file-system UUID stands for, as above.
uint64_t SerialFromUuid(const std::string& uuid);

// Free bytes for an unprivileged user on the file system mounted at `path`
// (0 when unknown).
uint64_t FreeBytesAt(const std::string& path);
// Whether the file system mounted at `path` is mounted read-only (statvfs's
// ST_RDONLY); nothing when the path cannot be examined.
std::optional<bool> ReadOnlyAt(const std::string& path);

}  // namespace qm
