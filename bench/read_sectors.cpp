// Throughput of the sector reader on an image file: large blocks (as the
// scanner and the image copy read) and single sectors (as the parsers read),
// through the direct path for image files and through the worker thread
// that block devices use.
//
//   bench_read_sectors [IMAGE]   (default: data/samples/sample-fat32.img)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/volume/volume.h"
#include "platform/device.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Run(const std::string& path, DeviceReadMode mode, const char* label) {
  int error = 0;
  auto device = OpenDeviceReadOnly(path, &error, mode);
  if (!device) {
    std::fprintf(stderr, "cannot open %s (errno %d)\n", path.c_str(), error);
    return;
  }
  CVolume volume(VolumeImage);
  volume.DevicePath = path;
  volume.AttachDevice(device);
  const uint64_t total = device->SizeBytes() / 512;

  std::vector<uint8_t> block(20480 * 512);
  auto start = std::chrono::steady_clock::now();
  uint64_t bytes = 0;
  for (int pass = 0; pass < 5; ++pass)
    for (uint64_t s = 0; s < total; s += 20480) bytes += volume.ReadSectors(block.data(), s, std::min<uint64_t>(20480, total - s));
  double t = Seconds(std::chrono::steady_clock::now() - start);
  std::printf("%-9s 10 MiB blocks : %8.0f MiB/s\n", label, bytes / t / (1 << 20));

  start = std::chrono::steady_clock::now();
  const uint64_t reads = std::min<uint64_t>(total, 50000);
  for (uint64_t s = 0; s < reads; ++s) volume.ReadSectors(block.data(), s, uint64_t{1});
  t = Seconds(std::chrono::steady_clock::now() - start);
  std::printf("%-9s single sectors: %8.1f us per read\n", label, t / static_cast<double>(reads) * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "data/samples/sample-fat32.img";
  Run(path, DeviceReadMode::Auto, "direct");
  Run(path, DeviceReadMode::Threaded, "threaded");
  return 0;
}
