// Throughput of matching alone (no reading, no threads): ParseBlock over
// blocks of random bytes with every shipped file type switched on.
//   bench_scan_match [MiB]   (default 256)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/scanner/analyser.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
  LoadSignatureDatabase();
  const CFileSignatureDatabase& db = theComputer().Signatures();
  std::vector<uint8_t> block(SCAN_BLOCK_BYTES);
  std::mt19937_64 random(1);
  for (size_t i = 0; i < block.size(); i += 8) {
    uint64_t v = random();
    for (int k = 0; k < 8; ++k) block[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  uint64_t objects = 0;
  ScanContext ctx;
  ctx.Database = &db;
  ctx.Accept = [&](std::unique_ptr<CFoundObject>) { ++objects; };
  const uint64_t blocks = mib * 1024 * 1024 / SCAN_BLOCK_BYTES;
  auto start = std::chrono::steady_clock::now();
  for (uint64_t b = 0; b < blocks; ++b) ParseBlock(block.data(), b * SCAN_BLOCK_SECTORS, SCAN_BLOCK_SECTORS, ctx);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu types, %llu MiB matched in %.3f s: %.0f MiB/s (%.1f ns per sector), %llu matches\n",
              db.Types().size(), static_cast<unsigned long long>(blocks * 10), s, blocks * 10 / s,
              s * 1e9 / (blocks * SCAN_BLOCK_SECTORS), static_cast<unsigned long long>(objects));
  return 0;
}
