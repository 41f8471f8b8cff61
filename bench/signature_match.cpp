// Sectors per second of the shipped signature set: the compiled matcher on
// random data and on a mix of real files, the plain per-type loop for
// comparison, and the false matches of the shipped set on 1 GiB of random
// data.
//
//   build/bench/bench_signature_match
//   build/bench/bench_signature_match --benchmark_filter=FalseMatches
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/scanner/file_signature_database.h"
#include "platform/registry_store.h"

namespace {

CFileSignatureDatabase& Shipped() {
  static CFileSignatureDatabase* db = [] {
    char dir[] = "/tmp/qm-bench-XXXXXX";
    if (!::mkdtemp(dir)) std::abort();
    static CRegistryStore store(std::string(dir) + "/registry");
    if (!InstallShippedSignatures(store, FindShippedSignatureFile())) {
      std::fprintf(stderr, "data/signatures.reg not found\n");
      std::abort();
    }
    auto* d = new CFileSignatureDatabase;
    d->Load(store);
    return d;
  }();
  return *db;
}

std::vector<uint8_t> RandomBytes(size_t bytes, uint64_t seed) {
  std::vector<uint8_t> out(bytes);
  std::mt19937_64 rng(seed);
  for (size_t i = 0; i + 8 <= bytes; i += 8) {
    uint64_t v = rng();
    std::memcpy(out.data() + i, &v, 8);
  }
  return out;
}

// Files of the system (programs, libraries, fonts, documentation, pictures),
// each starting on a sector boundary as on a disk, up to `bytes`.
std::vector<uint8_t> RealFileMix(size_t bytes) {
  std::vector<uint8_t> out;
  std::vector<std::string> folders = {"/usr/share/fonts", "/usr/share/pixmaps", "/usr/share/icons", "/usr/bin",
                                      "/usr/share/doc", "/usr/lib/x86_64-linux-gnu", "/usr/share/mime", "/etc"};
  std::vector<std::string> stack(folders.rbegin(), folders.rend());
  size_t perFolderLimit = bytes / folders.size();
  std::map<std::string, size_t> taken;
  while (!stack.empty() && out.size() < bytes) {
    std::string dir = stack.back();
    stack.pop_back();
    DIR* d = ::opendir(dir.c_str());
    if (!d) continue;
    std::string root;
    for (const auto& f : folders)
      if (dir.rfind(f, 0) == 0) root = f;
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string path = dir + "/" + name;
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        stack.push_back(path);
        continue;
      }
      if (!S_ISREG(st.st_mode) || st.st_size == 0 || taken[root] > perFolderLimit) continue;
      std::ifstream in(path, std::ios::binary);
      std::vector<char> data(std::min<size_t>(size_t(st.st_size), 4 << 20));
      in.read(data.data(), static_cast<std::streamsize>(data.size()));
      out.insert(out.end(), data.begin(), data.begin() + in.gcount());
      out.resize((out.size() + 511) / 512 * 512, 0);
      taken[root] += size_t(in.gcount());
      if (out.size() >= bytes) break;
    }
    ::closedir(d);
  }
  out.resize(std::max<size_t>(512, out.size() / 512 * 512));
  return out;
}

void Scan(benchmark::State& state, const std::vector<uint8_t>& data) {
  const CFileSignatureDatabase& db = Shipped();
  std::vector<const CFileType*> matches;
  size_t found = 0;
  for (auto _ : state) {
    for (size_t at = 0; at + 512 <= data.size(); at += 512) {
      matches.clear();
      db.MatchSector(data.data() + at, matches);
      found += matches.size();
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(data.size() / 512));
  state.counters["sectors/s"] = benchmark::Counter(double(state.iterations()) * double(data.size() / 512),
                                                   benchmark::Counter::kIsRate);
  state.counters["matches/pass"] = double(found) / double(state.iterations());
  state.counters["types"] = double(db.Types().size());
}

void BM_CompiledRandom(benchmark::State& state) {
  static const std::vector<uint8_t> data = RandomBytes(32 << 20, 1);
  Scan(state, data);
}
BENCHMARK(BM_CompiledRandom)->Unit(benchmark::kMillisecond);

void BM_CompiledRealFileMix(benchmark::State& state) {
  static const std::vector<uint8_t> data = RealFileMix(64 << 20);
  Scan(state, data);
}
BENCHMARK(BM_CompiledRealFileMix)->Unit(benchmark::kMillisecond);

void BM_CompiledZeros(benchmark::State& state) {
  static const std::vector<uint8_t> data(32 << 20, 0);
  Scan(state, data);
}
BENCHMARK(BM_CompiledZeros)->Unit(benchmark::kMillisecond);

// Every type's signatures tested in list order, as the plain rule says.
void BM_PlainLoopRandom(benchmark::State& state) {
  static const std::vector<uint8_t> data = RandomBytes(4 << 20, 2);
  const CFileSignatureDatabase& db = Shipped();
  size_t found = 0;
  for (auto _ : state) {
    for (size_t at = 0; at + 512 <= data.size(); at += 512)
      for (const auto& t : db.Types())
        if (t->SearchEnable && CFileSignatureDatabase::MatchSector(*t, data.data() + at, 512)) ++found;
    benchmark::DoNotOptimize(found);
  }
  state.counters["sectors/s"] = benchmark::Counter(double(state.iterations()) * double(data.size() / 512),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainLoopRandom)->Unit(benchmark::kMillisecond);

// Adds the types matched by each whole sector of `bytes` to `perType`.
void CountMatches(const CFileSignatureDatabase& db, const uint8_t* bytes, size_t size, std::map<int, int>& perType) {
  std::vector<const CFileType*> matches;
  for (size_t at = 0; at + 512 <= size; at += 512) {
    matches.clear();
    db.MatchSector(bytes + at, matches);
    for (auto* t : matches) ++perType[t->Id];
  }
}

// Prints the false matches per type and sets the worst and total counters.
void ReportFalseMatches(benchmark::State& state, const std::map<int, int>& perType, const char* what) {
  int worst = 0, total = 0;
  for (auto [id, n] : perType) {
    worst = std::max(worst, n);
    total += n;
    std::fprintf(stderr, "type %d matched %d sector(s) of %s\n", id, n, what);
  }
  state.counters["worst type"] = worst;
  state.counters["total"] = total;
}

// False matches of the shipped set on 1 GiB of random data: the most any
// one type matched, and the total.
void BM_FalseMatchesOneGiBRandom(benchmark::State& state) {
  const CFileSignatureDatabase& db = Shipped();
  for (auto _ : state) {
    std::map<int, int> perType;
    for (uint64_t chunk = 0; chunk < 64; ++chunk) {
      std::vector<uint8_t> data = RandomBytes(16 << 20, 100 + chunk);
      CountMatches(db, data.data(), data.size(), perType);
    }
    ReportFalseMatches(state, perType, "1 GiB random data");
  }
}
BENCHMARK(BM_FalseMatchesOneGiBRandom)->Unit(benchmark::kSecond)->Iterations(1);

// False matches on 256 MiB of log text: syslog-style lines of words, paths,
// numbers, key=value pairs and the names of file formats.
void BM_FalseMatchesTextLog(benchmark::State& state) {
  const CFileSignatureDatabase& db = Shipped();
  const char* words[] = {"connection", "from", "accepted", "user", "session", "opened", "closed", "error", "warning",
                         "GET", "POST", "/index.html", "HTTP/1.1", "200", "404", "kernel:", "usb", "device", "PK",
                         "ID3", "FILE", "BM", "MZ", "From", "<?xml", "%PDF", "Received:", "#!", "{\\rtf", "RIFF",
                         "BEGIN:VCARD", "-----BEGIN", "ftyp", "OggS", "SQLite", "070701", "Rar!", "dex"};
  std::mt19937_64 rng(9);
  for (auto _ : state) {
    std::map<int, int> perType;
    std::string log;
    int line = 0;
    for (int chunk = 0; chunk < 16; ++chunk) {
      log.clear();
      while (log.size() < (16u << 20)) {
        char head[96];
        std::snprintf(head, sizeof head, "Dec  8 %02d:%02d:%02d host%d service[%d]: ", line / 3600 % 24,
                      line / 60 % 60, line % 60, line % 7, 1000 + line % 977);
        log += head;
        for (int w = 0, n = 3 + int(rng() % 14); w < n; ++w) {
          log += words[rng() % (sizeof words / sizeof *words)];
          log += (rng() % 5 == 0) ? "=" : (rng() % 9 == 0 ? "\n" : " ");
        }
        log += "\n";
        ++line;
      }
      CountMatches(db, reinterpret_cast<const uint8_t*>(log.data()), log.size(), perType);
    }
    ReportFalseMatches(state, perType, "256 MiB of log text");
  }
}
BENCHMARK(BM_FalseMatchesTextLog)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
