// The search bar: name pattern, modification date, size and the two
// options; its Search button starts the search of the current volume.
#pragma once

#include <QWidget>

#include "engine/catalog/search.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QSpinBox;

// Control identifiers of the search bar in the language files.
enum SearchBarControl : int {
  IDC_FIND_NAME_LABEL = 1001,
  IDC_FIND_HINT = 1002,
  IDC_FIND_DATE_LABEL = 1003,
  IDC_FIND_SIZE_LABEL = 1004,
  IDC_FIND_DELETED_ONLY = 1005,
  IDC_FIND_FILES_ONLY = 1006,
  IDC_FIND_SEARCH = 1007,
  IDC_FIND_CANCEL = 1008,
};

class CSearchBarView : public QWidget {
  Q_OBJECT
public:
  explicit CSearchBarView(QWidget* parent = nullptr);

  // The pane read into the search's criteria (now: the moment of the search).
  SearchCriteria ReadCriteria(uint64_t now) const;
  // While a search runs the Search button is disabled.
  void SetSearching(bool searching);
  // The texts of the choices in the active language (the controls with
  // identifiers are translated by the languages object).
  void Retranslate();

  QLineEdit* NameEdit() const { return name_; }
  QPushButton* SearchButton() const { return search_; }
  QCheckBox* DeletedOnly() const { return deletedOnly_; }
  QComboBox* DateChoice() const { return date_; }

signals:
  void SearchRequested();
  void CancelRequested();

private:
  QLineEdit* name_;
  QComboBox* date_;
  QDateEdit* dateFrom_;
  QDateEdit* dateTo_;
  QComboBox* size_;
  QSpinBox* sizeValue_;
  QComboBox* sizeComparison_;
  QCheckBox* deletedOnly_;
  QCheckBox* filesOnly_;
  QPushButton* search_;
  QPushButton* cancel_;
};
