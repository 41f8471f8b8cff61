// "Volume Information": what the program and the system know of one volume.
// "General": name, file system, status, label, OEM ID, serial number, total
// and free space. "Capabilities": the file-system features the system
// reports for the mounted volume (statvfs); the rest say that the file
// system does not report them. "Information": the device's facts (path,
// kind, product, geometry, sectors, clusters, partition).
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

class CVolume;
class QLabel;
class QTabWidget;

class CVolumeInformationDlg : public QDialog {
  Q_OBJECT
public:
  CVolumeInformationDlg(CVolume& volume, QWidget* parent = nullptr);

  // The value beside the label with this identifier (tests).
  QString Value(int labelId) const;
  QTabWidget* Pages() const { return tabs_; }

private:
  QWidget* Page(int titleId, const std::vector<std::pair<int, QString>>& rows, const QString& heading = {});

  QTabWidget* tabs_;
  std::vector<std::pair<int, QLabel*>> values_;
};
