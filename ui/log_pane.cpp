#include "ui/log_pane.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QToolButton>

#include <algorithm>

namespace {
// The pane shows the recent lines; the whole log is one click away ("...").
constexpr int kMaxLines = 2000;
}  // namespace

CLogPane::CLogPane(QWidget* parent) : QWidget(parent), lines_(new QComboBox(this)), more_(new QToolButton(this)) {
  setObjectName("LogPane");
  lines_->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  lines_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  lines_->setMinimumContentsLength(20);
  more_->setText("...");
  more_->setToolTip(tr("Show the log file"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(lines_, 1);
  layout->addWidget(more_);
  connect(more_, &QToolButton::clicked, this, &CLogPane::ShowLogFileRequested);
}

void CLogPane::AddLine(const QString& line) { AddLines({line}); }

void CLogPane::AddLines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  const QStringList kept = lines.mid(std::max<qsizetype>(0, lines.size() - kMaxLines));
  const int excess = lines_->count() + static_cast<int>(kept.size()) - kMaxLines;
  if (excess > 0) lines_->model()->removeRows(0, excess);
  lines_->addItems(kept);
  lines_->setCurrentIndex(lines_->count() - 1);
}
