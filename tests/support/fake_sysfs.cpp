#include "tests/support/fake_sysfs.h"

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace qmtest {

namespace fs = std::filesystem;

FakeBlockTree::FakeBlockTree() : root_(MakeTempDir("blocktree")) {
  fs::create_directories(SysRoot() + "/block");
  fs::create_directories(DevRoot());
}

void FakeBlockTree::SetAttribute(const std::string& relative, const std::string& value) {
  const fs::path path = fs::path(SysRoot()) / "block" / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path) << value << "\n";
}

void FakeBlockTree::AddDisk(const std::string& name, uint64_t sectors, bool removable, const std::string& vendor,
                            const std::string& model, bool withDeviceFile) {
  SetAttribute(name + "/size", std::to_string(sectors));
  SetAttribute(name + "/removable", removable ? "1" : "0");
  SetAttribute(name + "/dev", "8:" + std::to_string(minor_++ * 16));
  if (!vendor.empty()) SetAttribute(name + "/device/vendor", vendor + "  ");
  if (!model.empty()) SetAttribute(name + "/device/model", model);
  if (withDeviceFile) AddDeviceFile(name, sectors);
}

void FakeBlockTree::AddDeviceFile(const std::string& name, uint64_t sectors) {
  std::ofstream(DevicePath(name), std::ios::binary | std::ios::trunc).close();
  fs::resize_file(DevicePath(name), sectors * 512);
}

void FakeBlockTree::AddPartition(const std::string& disk, const std::string& name, uint32_t number, uint64_t start,
                                 uint64_t sectors, bool withDeviceFile) {
  SetAttribute(disk + "/" + name + "/partition", std::to_string(number));
  SetAttribute(disk + "/" + name + "/start", std::to_string(start));
  SetAttribute(disk + "/" + name + "/size", std::to_string(sectors));
  SetAttribute(disk + "/" + name + "/dev", "8:" + std::to_string(minor_++));
  if (withDeviceFile) AddDeviceFile(name, sectors);
}

}  // namespace qmtest
