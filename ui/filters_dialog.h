// The filters dialog over the view filter: "General" (deleted files only,
// the wildcard pattern, the creation-date period) and "File Types" (all,
// known types only, or the ticked types). OK hands the edited filter to the
// caller, which applies it to the folder tree and the file list at once and
// stores it as the default filter.
#pragma once

#include <QDialog>
#include <QWidget>

#include <functional>

#include "engine/catalog/search.h"

class CFileTypeTree;
class QCheckBox;
class QDateTimeEdit;
class QLineEdit;
class QRadioButton;

class CFiltersView_General : public QWidget {
  Q_OBJECT
public:
  explicit CFiltersView_General(QWidget* parent = nullptr);
  void Load(const CViewFilter& filter);
  void Store(CViewFilter& filter) const;
  QCheckBox *DeletedOnly, *WildcardOn, *DateOn, *TimeOfDay;
  QLineEdit* Pattern;
  QDateTimeEdit *From, *To;

private:
  void UpdateEnabling();
};

class CFiltersView_FileTypes : public QWidget {
  Q_OBJECT
public:
  explicit CFiltersView_FileTypes(QWidget* parent = nullptr);
  void Load(const CViewFilter& filter);
  // The choice; the ticks go into the types' View switch.
  void Store(CViewFilter& filter) const;
  QRadioButton *AllFiles, *KnownOnly, *Custom;
  CFileTypeTree* Tree;
};

class CFiltersView : public QDialog {
  Q_OBJECT
public:
  // `apply` receives the edited filter when OK is pressed.
  CFiltersView(const CViewFilter& filter, std::function<void(const CViewFilter&)> apply, QWidget* parent = nullptr);
  // The edited filter, as OK would apply it.
  CViewFilter Edited() const;
  CFiltersView_General* General;
  CFiltersView_FileTypes* FileTypes;

private:
  CViewFilter filter_;
  std::function<void(const CViewFilter&)> apply_;
};
