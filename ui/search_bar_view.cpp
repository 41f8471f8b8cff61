#include "ui/search_bar_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/qt_translation_targets.h"
#include "ui/ui_texts.h"

namespace {

QLabel* Label(const char* text, int id, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  SetControlId(label, id);
  return label;
}

uint64_t ToFileTime(const QDateTime& time) {
  return static_cast<uint64_t>(time.toMSecsSinceEpoch() + 11644473600000ll) * 10000ull;
}

}  // namespace

CSearchBarView::CSearchBarView(QWidget* parent)
    : QWidget(parent),
      name_(new QLineEdit(this)),
      date_(new QComboBox(this)),
      dateFrom_(new QDateEdit(QDate::currentDate().addMonths(-1), this)),
      dateTo_(new QDateEdit(QDate::currentDate(), this)),
      size_(new QComboBox(this)),
      sizeValue_(new QSpinBox(this)),
      sizeComparison_(new QComboBox(this)),
      deletedOnly_(new QCheckBox("Search for deleted files only", this)),
      filesOnly_(new QCheckBox("Ignore folders (search for files only)", this)),
      search_(new QPushButton("Search", this)),
      cancel_(new QPushButton("Cancel", this)) {
  setObjectName("SearchBar");
  Retranslate();
  sizeValue_->setRange(0, 2000000000);
  for (QDateEdit* d : {dateFrom_, dateTo_}) {
    d->setCalendarPopup(true);
    d->setVisible(false);
  }
  sizeValue_->setVisible(false);
  sizeComparison_->setVisible(false);
  SetControlId(deletedOnly_, IDC_FIND_DELETED_ONLY);
  SetControlId(filesOnly_, IDC_FIND_FILES_ONLY);
  SetControlId(search_, IDC_FIND_SEARCH);
  SetControlId(cancel_, IDC_FIND_CANCEL);
  search_->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label("All or part of the filename:", IDC_FIND_NAME_LABEL, this));
  layout->addWidget(name_);
  layout->addWidget(Label("Hint: Use the '*' and '?' wildcards", IDC_FIND_HINT, this));
  layout->addSpacing(6);
  layout->addWidget(Label("When was it modified?", IDC_FIND_DATE_LABEL, this));
  layout->addWidget(date_);
  auto* dates = new QHBoxLayout;
  dates->addWidget(dateFrom_);
  dates->addWidget(dateTo_);
  layout->addLayout(dates);
  layout->addWidget(Label("What size is it?", IDC_FIND_SIZE_LABEL, this));
  layout->addWidget(size_);
  auto* sizes = new QHBoxLayout;
  sizes->addWidget(sizeComparison_);
  sizes->addWidget(sizeValue_);
  layout->addLayout(sizes);
  layout->addSpacing(6);
  layout->addWidget(deletedOnly_);
  layout->addWidget(filesOnly_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(search_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  layout->addStretch(1);

  connect(date_, &QComboBox::currentIndexChanged, this, [this](int option) {
    dateFrom_->setVisible(option == SearchCriteria::DateSpecified);
    dateTo_->setVisible(option == SearchCriteria::DateSpecified);
  });
  connect(size_, &QComboBox::currentIndexChanged, this, [this](int option) {
    sizeValue_->setVisible(option == SearchCriteria::SizeSpecified);
    sizeComparison_->setVisible(option == SearchCriteria::SizeSpecified);
    // Every size option is a test on files.
    if (option != SearchCriteria::SizeAny) filesOnly_->setChecked(true);
  });
  connect(name_, &QLineEdit::returnPressed, this, &CSearchBarView::SearchRequested);
  connect(search_, &QPushButton::clicked, this, &CSearchBarView::SearchRequested);
  connect(cancel_, &QPushButton::clicked, this, &CSearchBarView::CancelRequested);
  RegisterView(kSectionFindBar, this, 0, [this] { Retranslate(); });
}

void CSearchBarView::Retranslate() {
  // The choices' texts; the choice made stays.
  struct Choice {
    uint32_t number;
    const char* english;
  };
  const auto fill = [](QComboBox* box, std::initializer_list<Choice> choices) {
    int i = 0;
    for (const Choice& c : choices) {
      const QString text = UiString(c.number, c.english);
      if (i < box->count()) box->setItemText(i, text);
      else box->addItem(text);
      ++i;
    }
  };
  const Choice dontRemember{STR_FIND_DATE_FIRST, "Don't remember"};
  fill(date_, {dontRemember,
               {STR_FIND_DATE_FIRST + 1, "In the past week"},
               {STR_FIND_DATE_FIRST + 2, "In the past month"},
               {STR_FIND_DATE_FIRST + 3, "In the past year"},
               {STR_FIND_DATE_FIRST + 4, "Specify dates"}});
  fill(size_, {dontRemember,
               {STR_FIND_SIZE_FIRST, "Small (less than 100 KB)"},
               {STR_FIND_SIZE_FIRST + 1, "Medium (less than 1 MB)"},
               {STR_FIND_SIZE_FIRST + 2, "Large (greater than 1 MB)"},
               {STR_FIND_SIZE_FIRST + 3, "Specify size (in KB)"}});
  fill(sizeComparison_, {{STR_FIND_COMPARISON_FIRST, "less than"},
                         {STR_FIND_COMPARISON_FIRST + 1, "equal to"},
                         {STR_FIND_COMPARISON_FIRST + 2, "greater than"}});
}

SearchCriteria CSearchBarView::ReadCriteria(uint64_t now) const {
  SearchCriteria criteria;
  criteria.SetNamePattern(name_->text().toStdString());
  const QDateTime from(dateFrom_->date(), QTime(0, 0));
  const QDateTime to(dateTo_->date(), QTime(23, 59, 59));
  criteria.SetDateOption(date_->currentIndex(), now, ToFileTime(from), ToFileTime(to));
  criteria.SetSizeOption(size_->currentIndex(), sizeValue_->value(), SearchCriteria::UnitKB,
                         sizeComparison_->currentIndex());
  criteria.DeletedOnly = deletedOnly_->isChecked();
  criteria.FilesOnly = criteria.FilesOnly || filesOnly_->isChecked();
  return criteria;
}

void CSearchBarView::SetSearching(bool searching) { search_->setEnabled(!searching); }
