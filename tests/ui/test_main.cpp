// The desktop program's test runner: every test class registers itself;
// "test_ui CLASS [QTest options]" runs one class, "test_ui" runs them all.
#include <QApplication>
#include <QDir>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "tests/ui/ui_test_registry.h"

int main(int argc, char** argv) {
  // Every run keeps its registry (and the signature database) to itself.
  const QString config = QDir::tempPath() + "/quillmore-ui-config-" + QString::number(::getpid());
  QDir().mkpath(config);
  ::setenv("QUILLMORE_CONFIG_DIR", config.toUtf8().constData(), 1);
  ::setenv("QT_QPA_PLATFORM", std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
  int failures = 0;
  for (const auto& [name, make] : uitest::TestClasses()) {
    if (only && std::strcmp(only, name) != 0) continue;
    std::unique_ptr<QObject> test = make();
    QStringList args{QString::fromUtf8(argv[0])};
    for (int i = only ? 2 : 1; i < argc; ++i) args << QString::fromUtf8(argv[i]);
    failures += QTest::qExec(test.get(), args);
  }
  QDir(config).removeRecursively();
  return failures == 0 ? 0 : 1;
}
