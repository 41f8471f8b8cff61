// "File Information" for one found object: its identities, offset, sizes,
// type, status, folder and times, with the lists of its sectors and
// clusters; for a lost file also the "Description", "Signature" and
// "Technical Info" pages of its file type.
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

#include "engine/catalog/found_object.h"

class QLabel;
class QTabWidget;

class CFileInformationViewDlg : public QDialog {
  Q_OBJECT
public:
  // Fields whose values tests read, by the identifier of their label.
  enum Field : int {
    FieldId = 1201, FieldParentId, FieldOffset, FieldSize, FieldSizeOnDisk, FieldType, FieldSignature,
    FieldStatus, FieldLocation, FieldCreated, FieldModified, FieldAccessed,
  };
  CFileInformationViewDlg(const CFoundObject& object, QWidget* parent = nullptr);

  QString Value(Field field) const;
  QTabWidget* Pages() const { return tabs_; }
  // The texts the two list buttons show: one line per run of the object's
  // data, in data order.
  QString SectorsListText() const;
  QString ClustersListText() const;

private:
  void ShowList(const QString& title, const QString& text);

  CFoundObject object_;
  std::vector<FoundObjectRun> runs_;
  QTabWidget* tabs_;
  std::vector<std::pair<Field, QLabel*>> values_;
};
