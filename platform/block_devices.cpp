#include "platform/block_devices.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string text) {
  auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t a = 0;
  while (a < text.size() && blank(text[a])) ++a;
  return text.substr(a);
}

std::string ReadAttribute(const fs::path& path) { return ReadSysfsText(path.string()); }

uint64_t ReadNumber(const fs::path& path) {
  const std::string text = ReadAttribute(path);
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return 0;
  return std::strtoull(text.c_str(), nullptr, 10);
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Fills what a disk and a partition share from the folder of the device.
void ReadCommon(const fs::path& dir, BlockDeviceInfo& out) {
  out.DevicePath = "/dev/" + out.Name;
  out.SizeSectors = ReadNumber(dir / "size");
  const std::string dev = ReadAttribute(dir / "dev");
  const auto colon = dev.find(':');
  if (colon != std::string::npos) {
    out.Major = static_cast<uint32_t>(std::strtoul(dev.substr(0, colon).c_str(), nullptr, 10));
    out.Minor = static_cast<uint32_t>(std::strtoul(dev.substr(colon + 1).c_str(), nullptr, 10));
  }
}

void ReadDiskFacts(const fs::path& dir, BlockDeviceInfo& out) {
  out.Removable = ReadAttribute(dir / "removable") == "1";
  out.Vendor = ReadAttribute(dir / "device" / "vendor");
  out.Model = ReadAttribute(dir / "device" / "model");
  if (out.Model.empty()) out.Model = ReadAttribute(dir / "device" / "name");  // mmcblk
  out.Serial = ReadAttribute(dir / "serial");
  if (out.Serial.empty()) out.Serial = ReadAttribute(dir / "device" / "serial");
  out.BackingFile = ReadAttribute(dir / "loop" / "backing_file");
}

// The partitions of a disk: sub-folders that hold a "partition" file.
std::vector<BlockDeviceInfo> ReadPartitions(const fs::path& diskDir, const BlockDeviceInfo& disk) {
  std::vector<BlockDeviceInfo> parts;
  std::error_code ec;
  for (fs::directory_iterator it(diskDir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& sub = it->path();
    if (!fs::exists(sub / "partition")) continue;
    BlockDeviceInfo part;
    part.Name = sub.filename().string();
    part.DiskName = disk.Name;
    part.IsPartition = true;
    part.PartitionNumber = static_cast<uint32_t>(ReadNumber(sub / "partition"));
    part.StartSector = ReadNumber(sub / "start");
    part.Removable = disk.Removable;
    ReadCommon(sub, part);
    parts.push_back(std::move(part));
  }
  std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) {
    return a.PartitionNumber != b.PartitionNumber ? a.PartitionNumber < b.PartitionNumber
                                                  : KernelNameLess(a.Name, b.Name);
  });
  return parts;
}

}  // namespace

std::string ReadSysfsText(const std::string& path) {
  std::ifstream in(path);
  if (!in) return {};
  std::string line;
  std::getline(in, line);
  return Trimmed(line);
}

bool IsListedDiskName(const std::string& name) {
  for (const char* prefix : {"sd", "nvme", "mmcblk", "vd", "xvd", "loop"})
    if (StartsWith(name, prefix) && name.size() > std::char_traits<char>::length(prefix)) return true;
  return false;
}

namespace {
// Natural order: digit runs by value, letter runs as text.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = digit(a[i]), db = digit(b[j]);
    size_t ei = i, ej = j;
    while (ei < a.size() && digit(a[ei]) == da) ++ei;
    while (ej < b.size() && digit(b[ej]) == db) ++ej;
    std::string ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
    if (da && db) {
      ra.erase(0, std::min(ra.find_first_not_of('0'), ra.size() - 1));
      rb.erase(0, std::min(rb.find_first_not_of('0'), rb.size() - 1));
      if (ra.size() != rb.size()) return ra.size() < rb.size();
    }
    if (ra != rb) return ra < rb;
    i = ei;
    j = ej;
  }
  return a.size() - i < b.size() - j;
}

// The letters after a lettered family's prefix ("sd" + "aa"), or "".
std::string DriveLetters(const std::string& name, const char* prefix) {
  if (!StartsWith(name, prefix)) return {};
  size_t end = std::char_traits<char>::length(prefix);
  while (end < name.size() && std::isalpha(static_cast<unsigned char>(name[end]))) ++end;
  return name.substr(std::char_traits<char>::length(prefix), end - std::char_traits<char>::length(prefix));
}
}  // namespace

bool KernelNameLess(const std::string& a, const std::string& b) {
  // Lettered disks count like columns: sdz, then sdaa.
  for (const char* prefix : {"xvd", "sd", "vd"}) {
    const std::string la = DriveLetters(a, prefix), lb = DriveLetters(b, prefix);
    if (la.empty() || lb.empty()) continue;
    if (la.size() != lb.size()) return la.size() < lb.size();
    break;
  }
  return NaturalLess(a, b);
}

std::vector<BlockDeviceInfo> EnumerateBlockDevices(const std::string& sysRoot) {
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path block = fs::path(sysRoot) / "block";
  for (fs::directory_iterator it(block, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (IsListedDiskName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), KernelNameLess);

  std::vector<BlockDeviceInfo> out;
  for (const std::string& name : names) {
    const fs::path dir = block / name;
    BlockDeviceInfo disk;
    disk.Name = name;
    disk.DiskName = name;
    ReadDiskFacts(dir, disk);
    // A loop device is a disk only while a file is attached to it.
    if (StartsWith(name, "loop") && disk.BackingFile.empty()) continue;
    ReadCommon(dir, disk);
    auto parts = ReadPartitions(dir, disk);
    out.push_back(std::move(disk));
    for (auto& p : parts) out.push_back(std::move(p));
  }
  return out;
}

std::map<std::string, std::string> ParseMountInfo(const std::string& text) {
  // Fields: id parent MAJ:MIN root mount-point options ... - type source ...
  auto unescape = [](const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
      auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
      if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
        r.push_back(static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0')));
        i += 3;
      } else {
        r.push_back(s[i]);
      }
    }
    return r;
  };
  std::map<std::string, std::string> mounts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint;
    if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
    if (device.find(':') == std::string::npos) continue;
    mounts.emplace(device, unescape(mountPoint));
  }
  return mounts;
}

std::string FindMountPoint(uint32_t major, uint32_t minor) {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  const auto mounts = ParseMountInfo(text.str());
  auto it = mounts.find(std::to_string(major) + ":" + std::to_string(minor));
  return it == mounts.end() ? std::string() : it->second;
}

uint64_t SerialFromUuid(const std::string& uuid) {
  std::string hex;
  for (char c : uuid) {
    if (c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
    hex.push_back(c);
  }
  if (hex.empty() || hex.size() > 16) return 0;
  return std::strtoull(hex.c_str(), nullptr, 16);
}

BlockIdFacts ProbeBlockId(const std::string& devicePath) {
  BlockIdFacts facts;
  // Opened here, not by libblkid, so that a refusal keeps its errno.
  const int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    facts.Error = errno;
    return facts;
  }
  std::unique_ptr<std::remove_pointer_t<blkid_probe>, void (*)(blkid_probe)> probe(blkid_new_probe(),
                                                                                    blkid_free_probe);
  if (probe && blkid_probe_set_device(probe.get(), fd, 0, 0) == 0) {
    facts.Probed = true;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe.get()) == 0) {
      auto value = [&](const char* name) {
        const char* data = nullptr;
        size_t len = 0;
        if (blkid_probe_lookup_value(probe.get(), name, &data, &len) != 0 || !data) return std::string();
        std::string text(data, len);
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
      };
      facts.Type = value("TYPE");
      facts.Label = value("LABEL");
      facts.Uuid = value("UUID");
      facts.Serial = SerialFromUuid(facts.Uuid);
    }
  }
  ::close(fd);
  return facts;
}

uint64_t FreeBytesAt(const std::string& path) {
  if (path.empty()) return 0;
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

std::optional<bool> ReadOnlyAt(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return std::nullopt;
  return (st.f_flag & ST_RDONLY) != 0;
}

}  // namespace qm
