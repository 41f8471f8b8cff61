// How well the interface thread keeps answering while a scan finds tens of
// thousands of files: a 10 ms timer on the interface thread notes the
// longest gap between two of its ticks from the start of the analysis to
// its end, while the file list shows the folder the lost files go into.
//   ui_responsiveness IMAGE [--found-names]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "ui/found_object_list_model.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/volume_explore_view.h"

namespace {
// CPU time the calling thread has used.
double ThreadCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
// Nanoseconds the calling thread has waited, runnable, for a processor
// (the scheduler's run-queue wait): the part of a gap that is the machine's
// load and not the program's work.
double ThreadRunQueueWaitSeconds() {
  std::ifstream in("/proc/thread-self/schedstat");
  unsigned long long onCpu = 0, waiting = 0;
  in >> onCpu >> waiting;
  return waiting / 1e9;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ui_responsiveness IMAGE\n");
    return 2;
  }
  const QString config = QDir::tempPath() + "/quillmore-responsiveness-config";
  QDir(config).removeRecursively();
  QDir().mkpath(config);
  ::setenv("QUILLMORE_CONFIG_DIR", config.toUtf8().constData(), 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  uitest::UseFreshSettings();
  auto program = uitest::StartProgram({QString::fromLocal8Bit(argv[1])});
  CMainFrame* frame = program->frame();
  if (!frame) return 1;
  theApp().Settings.ConfirmExit = 0;
  // With --found-names every lost file also gives a log line, as the
  // setting ShowFoundNames asks: the log pane's heaviest load.
  if (argc > 2 && std::string(argv[2]) == "--found-names") theApp().Settings.ShowFoundNames = 1;
  frame->resize(1100, 720);
  CVolumeExploreView& explorer = frame->Explorer();
  CVolume* volume = explorer.Drives().SelectedVolume();

  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  std::vector<qint64> gaps;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  // The processor time the interface thread used between two ticks: its own
  // work, whatever the machine's load adds to the gap.
  double lastCpu = ThreadCpuSeconds(), longestWork = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const double cpuNow = ThreadCpuSeconds();
    longestWork = std::max(longestWork, cpuNow - lastCpu);
    lastCpu = cpuNow;
    const qint64 now = clock.elapsed();
    gaps.push_back(now - last);
    longest = std::max(longest, now - last);
    last = now;
  });

  // The real program's event loop, run until `done` says so; a 100 ms
  // timer on it plays the user.
  auto runLoop = [](const std::function<bool()>& step) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (step()) loop.quit();
    });
    poll.start(100);
    loop.exec();
  };

  // First the same ticks with nothing running: on a busy machine the
  // scheduler alone makes gaps, and this is their size.
  clock.start();
  tick.start(10);
  runLoop([&] { return clock.elapsed() >= 3000; });
  std::sort(gaps.begin(), gaps.end());
  std::printf("idle baseline: %zu ticks in 3 s, longest gap: %lld ms, 99th percentile: %lld ms\n", gaps.size(),
              static_cast<long long>(longest), static_cast<long long>(gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100]));
  gaps.clear();
  longest = 0;
  longestWork = 0;
  clock.restart();
  last = 0;
  const double cpuBefore = ThreadCpuSeconds();
  const double waitBefore = ThreadRunQueueWaitSeconds();
  frame->StartAnalysisOf(volume);
  // Once the first lost files arrive, the list shows their group folder and
  // follows its end, as a user watching the scan would.
  bool following = false;
  runLoop([&] {
    CFilesTreeView& tree = explorer.Tree();
    if (!following) {
      const QModelIndex top = tree.Model().index(0, 0);
      for (int r = 0; r < tree.Model().rowCount(top); ++r) {
        const QModelIndex lost = tree.Model().index(r, 0, top);
        if (tree.Model().data(lost, Qt::DisplayRole).toString() != "Lost files") continue;
        tree.expand(lost);
        if (tree.Model().canFetchMore(lost)) tree.Model().fetchMore(lost);
        const QModelIndex group = tree.Model().index(0, 0, lost);
        if (group.isValid()) {
          tree.setCurrentIndex(group);
          following = true;
        }
      }
    }
    explorer.Files().verticalScrollBar()->setValue(explorer.Files().verticalScrollBar()->maximum());
    return theApp().AnalysisRunning.load() != 1;
  });
  const qint64 scanMs = clock.elapsed();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  const double waited = ThreadRunQueueWaitSeconds() - waitBefore;
  tick.stop();
  uitest::WaitForAnalysisEnd();

  std::sort(gaps.begin(), gaps.end());
  const qint64 p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
  std::printf("analysis: %.1f s, %u lost files found, %d rows in the list\n", scanMs / 1000.0,
              volume->ScanFilesFound.load(), explorer.Files().Model().rowCount());
  std::printf("interface thread busy %.2f s of the %.1f s, and %.2f s ready to run but waiting for a processor\n", cpu,
              scanMs / 1000.0, waited);
  std::printf("during the analysis: %zu timer ticks, longest gap: %lld ms, 99th percentile: %lld ms\n", gaps.size(),
              static_cast<long long>(longest), static_cast<long long>(p99));
  std::printf("longest stretch of the interface thread's own work between two ticks: %.0f ms\n", longestWork * 1000);
  program.reset();
  QDir(config).removeRecursively();
  return 0;
}
