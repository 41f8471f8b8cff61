// How long a drive-list rescan takes on this machine: every disk and
// partition listed and queried on its information thread, waited for
// together. Usage: bench_rescan_time [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/volume/local_computer.h"
#include "services/app.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  theApp().LoadSettings();
  CLocalComputer& computer = theComputer();
  double best = 1e9, total = 0;
  size_t count = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    count = computer.Rescan();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, ms);
    total += ms;
  }
  std::printf("rescan: %zu volumes, best %.2f ms, mean %.2f ms over %d rounds\n", count, best, total / rounds, rounds);
  return 0;
}
