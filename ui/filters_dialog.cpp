#include "ui/filters_dialog.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "ui/dialog_texts.h"
#include "ui/file_type_tree.h"

namespace {

constexpr const char* kSection = "FiltersView";
constexpr const char* kSectionGeneral = "FiltersView.General";
constexpr const char* kSectionFileTypes = "FiltersView.FileTypes";
constexpr int64_t kFileTimeUnixEpochMs = 11644473600000ll;
constexpr uint64_t kNoUpperBound = ~0ull;

QDateTime FromFileTime(uint64_t t) {
  return QDateTime::fromMSecsSinceEpoch(static_cast<int64_t>(t / 10000) - kFileTimeUnixEpochMs);
}

uint64_t ToFileTime(const QDateTime& time) {
  return static_cast<uint64_t>(time.toMSecsSinceEpoch() + kFileTimeUnixEpochMs) * 10000ull;
}

QDateTimeEdit* NewDateTime(QWidget* parent) {
  auto* edit = new QDateTimeEdit(parent);
  edit->setCalendarPopup(true);
  edit->setDisplayFormat("yyyy-MM-dd HH:mm:ss");
  edit->setMinimumDateTime(FromFileTime(0));
  return edit;
}

}  // namespace

CFiltersView_General::CFiltersView_General(QWidget* parent)
    : QWidget(parent),
      DeletedOnly(NewControl<QCheckBox>(kSectionGeneral, 1100, this)),
      WildcardOn(NewControl<QCheckBox>(kSectionGeneral, 1101, this)),
      DateOn(NewControl<QCheckBox>(kSectionGeneral, 1102, this)),
      TimeOfDay(NewControl<QCheckBox>(kSectionGeneral, 1105, this)),
      Pattern(new QLineEdit(this)),
      From(NewDateTime(this)),
      To(NewDateTime(this)) {
  setObjectName(kSectionGeneral);
  setWindowTitle(DesignedText(kSectionGeneral, 0));
  Pattern->setObjectName("FilterPattern");
  Pattern->setMaxLength(255);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(DeletedOnly);
  layout->addWidget(WildcardOn);
  auto* patternRow = new QHBoxLayout;
  patternRow->addSpacing(20);
  patternRow->addWidget(Pattern);
  layout->addLayout(patternRow);
  layout->addWidget(DateOn);
  auto* dates = new QGridLayout;
  dates->setColumnMinimumWidth(0, 20);
  dates->addWidget(NewControl<QLabel>(kSectionGeneral, 1103, this), 0, 1);
  dates->addWidget(From, 0, 2);
  dates->addWidget(NewControl<QLabel>(kSectionGeneral, 1104, this), 1, 1);
  dates->addWidget(To, 1, 2);
  layout->addLayout(dates);
  layout->addWidget(TimeOfDay);
  layout->addStretch(1);
  for (QCheckBox* box : {WildcardOn, DateOn, TimeOfDay})
    connect(box, &QCheckBox::toggled, this, &CFiltersView_General::UpdateEnabling);
  RegisterDialog(kSectionGeneral, this);
}

void CFiltersView_General::UpdateEnabling() {
  Pattern->setEnabled(WildcardOn->isChecked());
  const bool dates = DateOn->isChecked() || TimeOfDay->isChecked();
  From->setEnabled(dates);
  To->setEnabled(dates);
}

void CFiltersView_General::Load(const CViewFilter& filter) {
  DeletedOnly->setChecked(filter.DeletedOnly);
  WildcardOn->setChecked(filter.WildcardOn);
  Pattern->setText(QString::fromStdString(filter.Pattern));
  DateOn->setChecked(filter.DateOn);
  TimeOfDay->setChecked(filter.TimeOfDayMode);
  From->setDateTime(FromFileTime(filter.DateFrom));
  // "No upper bound" shows as today's end.
  To->setDateTime(filter.DateTo == kNoUpperBound ? QDateTime(QDate::currentDate(), QTime(23, 59, 59))
                                                 : FromFileTime(filter.DateTo));
  UpdateEnabling();
}

void CFiltersView_General::Store(CViewFilter& filter) const {
  filter.DeletedOnly = DeletedOnly->isChecked();
  filter.WildcardOn = WildcardOn->isChecked();
  filter.Pattern = Pattern->text().isEmpty() ? std::string("*") : Pattern->text().toStdString();
  filter.DateOn = DateOn->isChecked();
  filter.TimeOfDayMode = TimeOfDay->isChecked();
  if (filter.DateOn || filter.TimeOfDayMode) {
    filter.DateFrom = ToFileTime(From->dateTime());
    filter.DateTo = ToFileTime(To->dateTime());
  }
}

CFiltersView_FileTypes::CFiltersView_FileTypes(QWidget* parent)
    : QWidget(parent),
      AllFiles(NewControl<QRadioButton>(kSectionFileTypes, 1110, this)),
      KnownOnly(NewControl<QRadioButton>(kSectionFileTypes, 1111, this)),
      Custom(NewControl<QRadioButton>(kSectionFileTypes, 1112, this)),
      Tree(new CFileTypeTree(CFileTypeTree::Switch::View, this)) {
  setObjectName(kSectionFileTypes);
  setWindowTitle(DesignedText(kSectionFileTypes, 0));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(AllFiles);
  layout->addWidget(KnownOnly);
  layout->addWidget(Custom);
  layout->addWidget(Tree, 1);
  connect(Custom, &QRadioButton::toggled, Tree, &QWidget::setEnabled);
  RegisterDialog(kSectionFileTypes, this);
}

void CFiltersView_FileTypes::Load(const CViewFilter& filter) {
  Tree->Load(theComputer().Signatures());
  switch (filter.FileTypes) {
    case CViewFilter::KnownTypesOnly: KnownOnly->setChecked(true); break;
    case CViewFilter::CustomTypes: Custom->setChecked(true); break;
    default: AllFiles->setChecked(true); break;
  }
  Tree->setEnabled(Custom->isChecked());
}

void CFiltersView_FileTypes::Store(CViewFilter& filter) const {
  filter.FileTypes = Custom->isChecked()      ? CViewFilter::CustomTypes
                     : KnownOnly->isChecked() ? CViewFilter::KnownTypesOnly
                                              : CViewFilter::AllFiles;
}

CFiltersView::CFiltersView(const CViewFilter& filter, std::function<void(const CViewFilter&)> apply, QWidget* parent)
    : QDialog(parent),
      General(new CFiltersView_General),
      FileTypes(new CFiltersView_FileTypes),
      filter_(filter),
      apply_(std::move(apply)) {
  setObjectName("FiltersDialog");
  General->Load(filter_);
  FileTypes->Load(filter_);
  auto* tabs = new QTabWidget(this);
  tabs->addTab(General, QString());
  tabs->addTab(FileTypes, QString());
  QDialogButtonBox* buttons = LayOutTabbedDialog(this, tabs);
  QPushButton* ok = AddDialogButton(buttons, kSection, IDC_OK);
  QPushButton* cancel = AddDialogButton(buttons, kSection, IDC_CANCEL);
  connect(ok, &QPushButton::clicked, this, [this] {
    // The ticked types are the database's View switches, saved with it.
    CFileSignatureDatabase& db = theComputer().Signatures();
    FileTypes->Tree->Store(db);
    db.SaveAll();
    if (apply_) apply_(Edited());
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  resize(460, 420);
  RegisterDialog(kSection, this);
}

CViewFilter CFiltersView::Edited() const {
  CViewFilter edited = filter_;
  General->Store(edited);
  FileTypes->Store(edited);
  return edited;
}
