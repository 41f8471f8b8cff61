#include "ui/settings_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/languages.h"
#include "ui/dialog_texts.h"
#include "ui/file_type_tree.h"
#include "ui/ui_texts.h"
#include "ui/user_prompts.h"

namespace {

constexpr int kIconSize = 48;

// The language list of the languages object, in a combo box.
class CComboLanguageChoice : public ILanguageChoice {
public:
  explicit CComboLanguageChoice(QComboBox* combo) : combo_(combo) {}
  void AddItem(const std::string& text) override { combo_->addItem(QString::fromStdString(text)); }
  void SetCurrentIndex(int index) override { combo_->setCurrentIndex(index); }
  void SetEnabled(bool enabled) override { combo_->setEnabled(enabled); }

private:
  QComboBox* combo_;
};

QSpinBox* NewSpin(int minimum, int maximum, QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(minimum, maximum);
  spin->setGroupSeparatorShown(true);
  return spin;
}

// A label and a field on one row.
QHBoxLayout* Row(QWidget* label, QWidget* field, QWidget* after = nullptr) {
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(field, 1);
  if (after) row->addWidget(after);
  return row;
}

}  // namespace

CSettingsPage::CSettingsPage(const char* section, int icon, QWidget* parent)
    : QWidget(parent), section_(section), body_(new QVBoxLayout) {
  setObjectName(section);
  setWindowTitle(DesignedText(section, 0));
  auto* layout = new QVBoxLayout(this);
  auto* head = new QHBoxLayout;
  auto* iconLabel = new QLabel(this);
  // Styles draw their icons at up to 32 pixels: scaled to the page's size.
  const QPixmap pixmap = style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)).pixmap(kIconSize, kIconSize);
  if (!pixmap.isNull())
    iconLabel->setPixmap(pixmap.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  iconLabel->setFixedSize(kIconSize, kIconSize);
  auto* title = new QLabel(windowTitle(), this);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  title->setFont(bold);
  connect(this, &QWidget::windowTitleChanged, title, &QLabel::setText);
  head->addWidget(iconLabel);
  head->addWidget(title, 1);
  layout->addLayout(head);
  layout->addLayout(body_);
  layout->addStretch(1);
}

void CSettingsPage::Register() { RegisterDialog(section_, this); }

// --- Common ---

CSettingsDlg_Common::CSettingsDlg_Common(QWidget* parent)
    : CSettingsPage("ProgrammSettings.Common", QStyle::SP_ComputerIcon, parent),
      ShowSplash(NewControl<QCheckBox>(Section(), 1010, this)) {
  Body()->addWidget(ShowSplash);
  Register();
}

void CSettingsDlg_Common::Load() { ShowSplash->setChecked(theApp().Settings.ShowSplash != 0); }

void CSettingsDlg_Common::Apply() { theApp().Settings.ShowSplash = ShowSplash->isChecked() ? 1 : 0; }

// --- Confirmations ---

CSettingsDlg_Confirms::CSettingsDlg_Confirms(QWidget* parent)
    : CSettingsPage("ProgrammSettings.Confirms", QStyle::SP_MessageBoxQuestion, parent),
      ConfirmExit(NewControl<QCheckBox>(Section(), 1020, this)),
      ConfirmScanAbort(NewControl<QCheckBox>(Section(), 1021, this)),
      ConfirmRecoveryAbort(NewControl<QCheckBox>(Section(), 1022, this)),
      ConfirmOverwrite(NewControl<QCheckBox>(Section(), 1023, this)),
      TryOpenWarning(NewControl<QCheckBox>(Section(), 1024, this)) {
  for (QCheckBox* box : {ConfirmExit, ConfirmScanAbort, ConfirmRecoveryAbort, ConfirmOverwrite, TryOpenWarning})
    Body()->addWidget(box);
  // Kept in the record, without effect: not shown.
  ConfirmOverwrite->setVisible(false);
  Register();
}

void CSettingsDlg_Confirms::Load() {
  const CSettings& s = theApp().Settings;
  ConfirmExit->setChecked(s.ConfirmExit != 0);
  ConfirmScanAbort->setChecked(s.ConfirmScanAbort != 0);
  ConfirmRecoveryAbort->setChecked(s.ConfirmRecoveryAbort != 0);
  ConfirmOverwrite->setChecked(s.ConfirmOverwrite != 0);
  TryOpenWarning->setChecked(s.NoTryOpenWarning == 0);
}

void CSettingsDlg_Confirms::Apply() {
  CSettings& s = theApp().Settings;
  s.ConfirmExit = ConfirmExit->isChecked() ? 1 : 0;
  s.ConfirmScanAbort = ConfirmScanAbort->isChecked() ? 1 : 0;
  s.ConfirmRecoveryAbort = ConfirmRecoveryAbort->isChecked() ? 1 : 0;
  s.ConfirmOverwrite = ConfirmOverwrite->isChecked() ? 1 : 0;
  s.NoTryOpenWarning = TryOpenWarning->isChecked() ? 0 : 1;
}

// --- Drive access ---

CSettingsDlg_DriveAccess::CSettingsDlg_DriveAccess(QWidget* parent)
    : CSettingsPage("ProgrammSettings.DriveAccess", QStyle::SP_DriveHDIcon, parent),
      RetryCount(NewSpin(0, 1000000, this)),
      RetryPause(NewSpin(0, 1000000, this)) {
  RetryCount->setObjectName("RetryCount");
  RetryPause->setObjectName("RetryPause");
  Body()->addLayout(Row(NewControl<QLabel>(Section(), 1030, this), RetryCount));
  Body()->addLayout(Row(NewControl<QLabel>(Section(), 1031, this), RetryPause, NewControl<QLabel>(Section(), 1032, this)));
  Register();
}

void CSettingsDlg_DriveAccess::Load() {
  const CSettings& s = theApp().Settings;
  RetryCount->setValue(s.RetryCount);
  RetryPause->setValue(static_cast<int>(std::min<uint32_t>(s.RetryPauseMs, 1000000)));
}

void CSettingsDlg_DriveAccess::Apply() {
  CSettings& s = theApp().Settings;
  s.RetryCount = RetryCount->value();
  s.RetryPauseMs = static_cast<uint32_t>(RetryPause->value());
}

// --- Interface languages ---

CSettingsDlg_Lang::CSettingsDlg_Lang(QWidget* parent)
    : CSettingsPage("ProgrammSettings.Languages", QStyle::SP_MessageBoxInformation, parent),
      Languages(new QComboBox(this)) {
  Languages->setObjectName("Languages");
  Body()->addLayout(Row(NewControl<QLabel>(Section(), 1040, this), Languages));
  auto* note = NewControl<QLabel>(Section(), 1041, this);
  note->setWordWrap(true);
  Body()->addWidget(note);
  // Choosing a language sets it at once: every registered window, this
  // dialog included, changes its texts now.
  connect(Languages, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (loading_ || index < 0) return;
    SetUiLanguage(index);
  });
  Register();
}

void CSettingsDlg_Lang::Load() {
  loading_ = true;
  Languages->clear();
  CComboLanguageChoice choice(Languages);
  theApp().Languages.FillLanguageList(choice);
  loading_ = false;
}

// --- Logging ---

CSettingsDlg_Logging::CSettingsDlg_Logging(QWidget* parent)
    : CSettingsPage("ProgrammSettings.Logging", QStyle::SP_FileDialogDetailedView, parent),
      LogToFile(NewControl<QCheckBox>(Section(), 1050, this)),
      FileName(new QLineEdit(this)),
      Browse(NewControl<QPushButton>(Section(), 1056, this)),
      MaxSize(NewSpin(1, 102400, this)),
      ClearOnStart(NewControl<QCheckBox>(Section(), 1054, this)),
      ToDebugger(NewControl<QCheckBox>(Section(), 1055, this)) {
  FileName->setObjectName("LogFileName");
  FileName->setMaxLength(1023);
  MaxSize->setObjectName("MaxLogSize");
  Body()->addWidget(LogToFile);
  Body()->addLayout(Row(NewControl<QLabel>(Section(), 1051, this), FileName, Browse));
  Body()->addLayout(Row(NewControl<QLabel>(Section(), 1052, this), MaxSize, NewControl<QLabel>(Section(), 1053, this)));
  auto* note = NewControl<QLabel>(Section(), 1057, this);
  note->setWordWrap(true);
  Body()->addWidget(note);
  Body()->addWidget(ClearOnStart);
  Body()->addWidget(ToDebugger);
  connect(LogToFile, &QCheckBox::toggled, this, &CSettingsDlg_Logging::UpdateEnabling);
  connect(Browse, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, UiString(61423, "Select Log File"), FileName->text(),
                                                      QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) FileName->setText(path);
  });
  Register();
}

void CSettingsDlg_Logging::UpdateEnabling() {
  // The file's controls count only while the log goes to a file.
  const bool on = LogToFile->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(FileName), static_cast<QWidget*>(Browse),
                     static_cast<QWidget*>(MaxSize), static_cast<QWidget*>(ClearOnStart)})
    w->setEnabled(on);
}

void CSettingsDlg_Logging::Load() {
  const CSettings& s = theApp().Settings;
  LogToFile->setChecked(s.LogToFile != 0);
  FileName->setText(QString::fromStdString(s.LogFileNameText()));
  MaxSize->setValue(static_cast<int>(std::clamp<uint32_t>(s.MaxLogSizeKB, 1, 102400)));
  ClearOnStart->setChecked(s.ClearLogOnStart != 0);
  ToDebugger->setChecked(s.LogToDebugger != 0);
  UpdateEnabling();
}

void CSettingsDlg_Logging::Apply() {
  CSettings& s = theApp().Settings;
  s.LogToFile = LogToFile->isChecked() ? 1 : 0;
  CSettings::SetText(s.LogFileName, 1024, FileName->text().toStdString());
  s.MaxLogSizeKB = static_cast<uint32_t>(MaxSize->value());
  s.ClearLogOnStart = ClearOnStart->isChecked() ? 1 : 0;
  s.LogToDebugger = ToDebugger->isChecked() ? 1 : 0;
}

// --- File types ---

CSettingsDlg_SearchFileTypes::CSettingsDlg_SearchFileTypes(IUserPrompts& prompts, QWidget* parent)
    : CSettingsPage("ProgrammSettings.SearchFileTypes", QStyle::SP_FileIcon, parent),
      Tree(new CFileTypeTree(CFileTypeTree::Switch::SearchEnable, this)),
      CheckAll(NewControl<QPushButton>(Section(), 1060, this)),
      UncheckAll(NewControl<QPushButton>(Section(), 1061, this)),
      Properties(NewControl<QPushButton>(Section(), 1062, this)),
      Import(NewControl<QPushButton>(Section(), 1063, this)),
      Export(NewControl<QPushButton>(Section(), 1064, this)),
      prompts_(prompts) {
  Body()->addWidget(NewControl<QLabel>(Section(), 1065, this));
  auto* row = new QHBoxLayout;
  row->addWidget(Tree, 1);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {CheckAll, UncheckAll, Properties, Import, Export}) buttons->addWidget(b);
  buttons->addStretch(1);
  row->addLayout(buttons);
  Body()->addLayout(row, 1);
  Tree->setMinimumHeight(220);
  connect(CheckAll, &QPushButton::clicked, this, [this] { Tree->SetAllChecked(true); });
  connect(UncheckAll, &QPushButton::clicked, this, [this] { Tree->SetAllChecked(false); });
  connect(Properties, &QPushButton::clicked, Tree, &CFileTypeTree::ShowProperties);
  const QString filter = UiString(61404, "Signature files (*.filesig)");
  connect(Import, &QPushButton::clicked, this, [this, filter] {
    const QString path = QFileDialog::getOpenFileName(this, UiString(61407, "Import Signature File"), QString(), filter);
    if (!path.isEmpty()) ImportFile(path);
  });
  connect(Export, &QPushButton::clicked, this, [this, filter] {
    const CFileType* type = theComputer().Signatures().FindById(Tree->CurrentTypeId());
    if (!type) return;
    const QString name = QString::fromStdString(type->FirstExtension.empty() ? std::to_string(type->Id)
                                                                             : type->FirstExtension) + ".filesig";
    const QString path = QFileDialog::getSaveFileName(this, UiString(61408, "Export Signature File"), name, filter);
    if (!path.isEmpty()) ExportFile(path);
  });
  Register();
}

void CSettingsDlg_SearchFileTypes::Load() { Tree->Load(theComputer().Signatures()); }

void CSettingsDlg_SearchFileTypes::Apply() {
  CFileSignatureDatabase& db = theComputer().Signatures();
  Tree->Store(db);
  db.SaveAll();
}

void CSettingsDlg_SearchFileTypes::ImportFile(const QString& path) {
  // Marks made but not applied yet survive the reload of the tree.
  CFileSignatureDatabase& db = theComputer().Signatures();
  Tree->Store(db);
  std::string message;
  const CFileType* type = db.ImportSignatureFile(path.toStdString(), &message);
  if (type) prompts_.ShowMessage(this, QString::fromStdString(message), UiString(61406, "ok"));
  else prompts_.ShowError(this, QString::fromStdString(message), UiString(61405, "Error!"));
  Tree->Load(db);
}

bool CSettingsDlg_SearchFileTypes::ExportFile(const QString& path) {
  const CFileType* type = theComputer().Signatures().FindById(Tree->CurrentTypeId());
  if (!type) return false;
  if (CFileSignatureDatabase::ExportSignatureFile(*type, path.toStdString())) return true;
  prompts_.ShowError(this, QString::fromStdString(qm::SystemErrorText(errno)) + ": " + path, UiString(61405, "Error!"));
  return false;
}

// --- Temporary folder ---

CSettingsDlg_Temporary::CSettingsDlg_Temporary(QWidget* parent)
    : CSettingsPage("ProgrammSettings.Temporary", QStyle::SP_DirIcon, parent),
      SystemFolder(NewControl<QRadioButton>(Section(), 1070, this)),
      CustomFolder(NewControl<QRadioButton>(Section(), 1071, this)),
      Folder(new QLineEdit(this)),
      Browse(NewControl<QPushButton>(Section(), 1072, this)) {
  Folder->setObjectName("TempFolder");
  Folder->setMaxLength(4095);
  Body()->addWidget(SystemFolder);
  Body()->addWidget(CustomFolder);
  auto* row = new QHBoxLayout;
  row->addSpacing(20);
  row->addWidget(Folder, 1);
  row->addWidget(Browse);
  Body()->addLayout(row);
  connect(CustomFolder, &QRadioButton::toggled, this, &CSettingsDlg_Temporary::UpdateEnabling);
  connect(Browse, &QPushButton::clicked, this, [this] {
    const QString folder =
        QFileDialog::getExistingDirectory(this, UiString(61400, "Select New Temporary Folder"), Folder->text());
    if (!folder.isEmpty()) Folder->setText(folder);
  });
  Register();
}

void CSettingsDlg_Temporary::UpdateEnabling() {
  Folder->setEnabled(CustomFolder->isChecked());
  Browse->setEnabled(CustomFolder->isChecked());
}

void CSettingsDlg_Temporary::Load() {
  CSettings& s = theApp().Settings;
  const QString folder = QString::fromStdString(s.TempFolderText());
  const QString system = QString::fromStdString(qm::GetTempPath());
  // Trailing separators do not make another folder.
  const auto same = [](QString a, QString b) {
    return QDir::cleanPath(a).compare(QDir::cleanPath(b), Qt::CaseInsensitive) == 0;
  };
  s.CustomTempFolder = same(folder, system) ? 0 : 1;
  (s.CustomTempFolder ? CustomFolder : SystemFolder)->setChecked(true);
  Folder->setText(folder);
  UpdateEnabling();
}

void CSettingsDlg_Temporary::Apply() {
  CSettings& s = theApp().Settings;
  const QString folder = Folder->text().trimmed();
  s.CustomTempFolder = CustomFolder->isChecked() && !folder.isEmpty() ? 1 : 0;
  CSettings::SetText(s.TempFolder, 4096, s.CustomTempFolder ? folder.toStdString() : qm::GetTempPath());
}
