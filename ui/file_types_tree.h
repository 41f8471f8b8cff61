// The file-type tree: the groups and types of the signature database with
// a check box per type for its SearchEnable switch (what the sector scan
// looks for). A group's box checks or unchecks all its types.
#pragma once

#include <QTreeWidget>

class CFileTypesTree : public QTreeWidget {
  Q_OBJECT
public:
  explicit CFileTypesTree(QWidget* parent = nullptr);
  // Reads the types and their switches from the database again.
  void Reload();
  // Writes the switches back to the database and saves it when one changed.
  void Apply();

private:
  bool loading_ = false;
  bool changed_ = false;
};
