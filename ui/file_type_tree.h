// The tree of file types with check boxes, grouped as the signature
// database groups them: the settings' search page ticks `SearchEnable`, the
// filters' custom choice ticks `View`. Its context menu offers "Check All",
// "Uncheck All" and "Properties...". Also the read-only properties of one
// type, shared with the object information dialog.
#pragma once

#include <QDialog>
#include <QString>
#include <QTreeWidget>

#include <utility>
#include <vector>

class CFileSignatureDatabase;
class QMenu;
struct CFileType;

class CFileTypeTree : public QTreeWidget {
  Q_OBJECT
public:
  enum class Switch { SearchEnable, View };
  CFileTypeTree(Switch which, QWidget* parent = nullptr);

  // Fills the tree from the database's types and their switch.
  void Load(const CFileSignatureDatabase& db);
  // Writes the check marks back into the types' switch.
  void Store(CFileSignatureDatabase& db) const;
  void SetAllChecked(bool checked);
  // The type of the current item (null for a group).
  int32_t CurrentTypeId() const;
  // The check mark of a type (tests).
  bool IsChecked(int32_t typeId) const;
  void SetChecked(int32_t typeId, bool checked);
  // Shows the properties of the current type.
  void ShowProperties();

  QMenu* ContextMenu() const { return menu_; }

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  QTreeWidgetItem* ItemOf(int32_t typeId) const;
  Switch switch_;
  QMenu* menu_ = nullptr;
};

// The language section of the tree's context menu.
inline constexpr const char* kSectionFileTypeMenu = "FileTypeTree.menu";

// The facts of a type as label and value pairs: id, title, extensions,
// prefix, group, default size, searched for.
std::vector<std::pair<QString, QString>> FileTypeFacts(const CFileType& type);
// The signatures of a type, one line each ("0='PK',2=#3,3=#4" or the
// pattern's bytes in hexadecimal).
QString FileTypeSignatureText(const CFileType& type);

// "File Type Properties": the type's facts, description and signatures.
class CFileTypePropertiesDlg : public QDialog {
  Q_OBJECT
public:
  CFileTypePropertiesDlg(const CFileType& type, QWidget* parent = nullptr);
};
