// A fake sysfs tree of disks and partitions, and a fake /dev whose device
// files are plain image files, for the drive list's tests.
#pragma once

#include <cstdint>
#include <string>

namespace qmtest {

class FakeBlockTree {
public:
  FakeBlockTree();
  std::string SysRoot() const { return root_ + "/sys"; }
  std::string DevRoot() const { return root_ + "/dev"; }
  // A whole disk of `sectors` 512-byte sectors, with its device file in
  // the fake /dev (zeros) unless `withDeviceFile` is false.
  void AddDisk(const std::string& name, uint64_t sectors, bool removable = false, const std::string& vendor = "",
               const std::string& model = "", bool withDeviceFile = true);
  void AddPartition(const std::string& disk, const std::string& name, uint32_t number, uint64_t start,
                    uint64_t sectors, bool withDeviceFile = true);
  // Writes one attribute file below sys/block ("loop1/loop/backing_file").
  void SetAttribute(const std::string& relative, const std::string& value);
  std::string DevicePath(const std::string& name) const { return DevRoot() + "/" + name; }
  // A device file of zeros in the fake /dev.
  void AddDeviceFile(const std::string& name, uint64_t sectors);

private:
  std::string root_;
  uint32_t minor_ = 0;
};

}  // namespace qmtest
