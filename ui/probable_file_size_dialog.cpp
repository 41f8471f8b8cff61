#include "ui/probable_file_size_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

#include "services/format.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/dialog_parts.h"
#include "ui/main_frame.h"
#include "ui/qt_translation_targets.h"
#include "ui/ui_texts.h"

namespace {

QLabel* Value(const std::string& text, QWidget* parent) {
  auto* label = new QLabel(QString::fromStdString(text), parent);
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QGroupBox* Frame(const char* title, int id, QWidget* parent) {
  auto* box = new QGroupBox(QString::fromUtf8(title), parent);
  SetControlId(box, id);
  return box;
}

}  // namespace

CProbableFileSizeDialog::CProbableFileSizeDialog(const ProbableSizeDialogState& state, QWidget* parent)
    : QDialog(parent),
      typeName_(state.TypeName),
      explanation_(DialogLabel(
          "The file of the '%s' type is found, but its attributes such as name, parent folder, size, security "
          "settings, etc. are lost. We tried to determine its size by its content, but did not succeed. We don't "
          "know the exact size of this particular file.",
          IDC_EXPLANATION, this)),
      offset_(Value(state.OffsetText, this)),
      type_(Value(state.TypeName, this)),
      condition_(Value(state.ConditionText, this)),
      defaultSize_(Value(state.DefaultSizeText, this)),
      nextAny_(Value(state.NextAnyText, this)),
      nextSame_(Value(state.NextSameText, this)),
      options_(new QButtonGroup(this)),
      scopes_(new QButtonGroup(this)),
      customValue_(new QSpinBox(this)),
      customUnit_(new QComboBox(this)),
      ok_(DialogButton("OK", IDC_BUTTON_OK, this)),
      skip_(DialogButton("Skip File", IDC_SKIP_FILE, this)),
      cancel_(DialogButton("Cancel", IDC_BUTTON_CANCEL, this)) {
  setObjectName("ProbableFileSize");
  setWindowTitle("Enter probable file size");
  customValue_->setRange(INT_MIN, INT_MAX);
  for (int unit = SIZE_UNIT_B; unit <= SIZE_UNIT_GB; ++unit) customUnit_->addItem(SizeUnitLabel(unit));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(explanation_);
  auto* facts = new QGridLayout;
  facts->addWidget(DialogLabel("Offset:", IDC_OFFSET_LABEL, this), 0, 0);
  facts->addWidget(offset_, 0, 1);
  facts->addWidget(DialogLabel("Type:", IDC_TYPE_LABEL, this), 1, 0);
  facts->addWidget(type_, 1, 1);
  facts->addWidget(DialogLabel("Condition:", IDC_CONDITION_LABEL, this), 2, 0);
  facts->addWidget(condition_, 2, 1);
  facts->setColumnStretch(1, 1);
  layout->addLayout(facts);

  QGroupBox* sizeFrame = Frame("Probable file size", IDC_SIZE_FRAME, this);
  auto* sizes = new QGridLayout(sizeFrame);
  const struct {
    const char* text;
    int id;
    QLabel* value;
  } options[] = {
      {"The default file size for this file type is:", IDC_OPTION_DEFAULT, defaultSize_},
      {"Distance to the next file of any type:", IDC_OPTION_NEXT_ANY, nextAny_},
      {"Distance to the next file of the same type:", IDC_OPTION_NEXT_SAME, nextSame_},
      {"Custom size:", IDC_OPTION_CUSTOM, nullptr},
  };
  for (int i = 0; i < 4; ++i) {
    QRadioButton* radio = DialogRadio(options[i].text, options[i].id, sizeFrame);
    options_->addButton(radio, i);
    sizes->addWidget(radio, i, 0);
    if (options[i].value) {
      options[i].value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      sizes->addWidget(options[i].value, i, 1, 1, 2);
    }
  }
  sizes->addWidget(customValue_, 3, 1);
  sizes->addWidget(customUnit_, 3, 2);
  layout->addWidget(sizeFrame);

  QGroupBox* scopeFrame = Frame("Use the selection above for:", IDC_SCOPE_FRAME, this);
  auto* scopeLayout = new QVBoxLayout(scopeFrame);
  const struct {
    const char* text;
    int id;
  } scopes[] = {{"This file only", IDC_SCOPE_THIS_FILE},
                {"All files of this type", IDC_SCOPE_THIS_TYPE},
                {"All files of any type", IDC_SCOPE_ANY_TYPE}};
  for (int i = 0; i < 3; ++i) {
    QRadioButton* radio = DialogRadio(scopes[i].text, scopes[i].id, scopeFrame);
    scopes_->addButton(radio, i);
    scopeLayout->addWidget(radio);
  }
  layout->addWidget(scopeFrame);

  auto* buttons = new QHBoxLayout;
  QPushButton* help = DialogButton("Help", IDC_BUTTON_HELP, this);
  buttons->addStretch(1);
  for (QPushButton* b : {ok_, skip_, cancel_, help}) buttons->addWidget(b);
  layout->addLayout(buttons);
  ok_->setDefault(true);

  connect(options_, &QButtonGroup::idToggled, this, [this](int, bool) {
    const bool custom = options_->checkedId() == SIZE_OPTION_CUSTOM;
    customValue_->setEnabled(custom);
    customUnit_->setEnabled(custom);
  });
  connect(ok_, &QPushButton::clicked, this, [this] { done(SIZE_DLG_OK); });
  connect(skip_, &QPushButton::clicked, this, [this] { done(SIZE_DLG_SKIP); });
  connect(cancel_, &QPushButton::clicked, this, [this] { done(SIZE_DLG_CANCEL); });
  connect(help, &QPushButton::clicked, this, [] { theAppUi().OpenHelp(ID_HELP_CONTENTS); });

  SetOption(state.Option);
  SetScope(state.Scope);
  SetCustom(state.CustomValue, state.CustomUnit);
  customValue_->setEnabled(state.CustomEnabled());
  customUnit_->setEnabled(state.CustomEnabled());
  RegisterView(kSection, this, 0, [this] { ShowExplanation(); });
  ShowExplanation();
}

void CProbableFileSizeDialog::ShowExplanation() {
  // The translated text is a format that takes the type name.
  const QString format = explanation_->text();
  if (format.contains("%s")) explanation_->setText(QString::fromStdString(qm::Format(format.toStdString(), typeName_)));
}

void CProbableFileSizeDialog::SetOption(int option) {
  if (QAbstractButton* b = options_->button(option)) b->setChecked(true);
}

void CProbableFileSizeDialog::SetScope(int scope) {
  if (QAbstractButton* b = scopes_->button(scope)) b->setChecked(true);
}

void CProbableFileSizeDialog::SetCustom(int32_t value, int unit) {
  customValue_->setValue(value);
  customUnit_->setCurrentIndex(std::clamp(unit, int(SIZE_UNIT_B), int(SIZE_UNIT_GB)));
}

ProbableSizeAnswer CProbableFileSizeDialog::Answer() const {
  ProbableSizeAnswer answer;
  answer.Button = result() == SIZE_DLG_OK || result() == SIZE_DLG_SKIP ? result() : SIZE_DLG_CANCEL;
  answer.Option = options_->checkedId();
  answer.Scope = scopes_->checkedId();
  answer.CustomValue = customValue_->value();
  answer.CustomUnit = customUnit_->currentIndex();
  return answer;
}

// --- The question from any thread ---

CProbableSizeQuestion::CProbableSizeQuestion() = default;

CProbableSizeQuestion::~CProbableSizeQuestion() { Close(); }

void CProbableSizeQuestion::Close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  CancelOpen();
}

void CProbableSizeQuestion::Answer(Pending& pending, const ProbableSizeAnswer& answer) {
  std::lock_guard lock(pending.mutex);
  if (pending.answered.load()) return;
  pending.answer = answer;
  pending.answered = true;
  pending.done.notify_all();
}

ProbableSizeAnswer CProbableSizeQuestion::Ask(const ProbableSizeDialogState& state) {
  ProbableSizeAnswer cancelled;
  cancelled.Button = SIZE_DLG_CANCEL;
  if (QThread::currentThread() == thread()) {
    CProbableFileSizeDialog dialog(state, QApplication::activeWindow());
    dialog.exec();
    return dialog.Answer();
  }
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard lock(mutex_);
    if (closing_) return cancelled;
    std::erase_if(pending_, [](const std::shared_ptr<Pending>& p) { return p->answered.load(); });
    pending_.push_back(pending);
  }
  QMetaObject::invokeMethod(this, [this, pending, state] { Open(pending, state); }, Qt::QueuedConnection);
  // Once answered, this object is not touched again: it may be going away.
  std::unique_lock lock(pending->mutex);
  pending->done.wait(lock, [&] { return pending->answered.load(); });
  return pending->answer;
}

void CProbableSizeQuestion::Open(const std::shared_ptr<Pending>& pending, const ProbableSizeDialogState& state) {
  if (pending->answered.load()) return;  // withdrawn before it was shown
  QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
  auto* dialog = new CProbableFileSizeDialog(state, owner);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::ApplicationModal);
  std::erase_if(open_, [](const QPointer<CProbableFileSizeDialog>& d) { return d.isNull(); });
  open_.emplace_back(dialog);
  connect(dialog, &QDialog::finished, dialog, [dialog, pending] { Answer(*pending, dialog->Answer()); });
  // A dialog that goes away unanswered (its owner closed) cancels.
  connect(dialog, &QObject::destroyed, this, [pending] {
    ProbableSizeAnswer cancelled;
    cancelled.Button = SIZE_DLG_CANCEL;
    Answer(*pending, cancelled);
  });
  dialog->open();
}

void CProbableSizeQuestion::CancelOpen() {
  for (const QPointer<CProbableFileSizeDialog>& dialog : open_)
    if (dialog) dialog->done(SIZE_DLG_CANCEL);
  open_.clear();
  // Questions posted but not yet shown.
  std::lock_guard lock(mutex_);
  ProbableSizeAnswer cancelled;
  cancelled.Button = SIZE_DLG_CANCEL;
  for (const std::shared_ptr<Pending>& pending : pending_) Answer(*pending, cancelled);
}
