#include "ui/data_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString DataFolder() {
  const QString beside = QCoreApplication::applicationDirPath() + "/data";
  if (QFileInfo(beside).isDir()) return beside;
  const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/quillmore");
  if (QFileInfo(installed).isDir()) return installed;
  // Tests and tools run from below the build folder: the build's copy.
  QDir dir(QCoreApplication::applicationDirPath());
  for (int up = 0; up < 3 && dir.cdUp(); ++up)
    if (QFileInfo(dir.filePath("data/help")).isDir()) return dir.filePath("data");
  return beside;
}

QString DataFile(const QString& relative) { return DataFolder() + "/" + relative; }
