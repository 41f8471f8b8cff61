#include "ui/wizard_mode_steps.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "ui/drives_model.h"
#include "engine/scanner/file_signature_database.h"
#include "ui/file_type_tree.h"
#include "ui/my_computer_view.h"
#include "ui/wizard_session.h"

// ---------------------------------------------------------------------------

CWizardMode_Step0::CWizardMode_Step0(QWidget* parent) : CWizardMode_Page(0, "Welcome!", parent) {
  setObjectName("WizardStep0");
  AddText("This wizard will help you to recover your lost document files and data from all types of media.");
  AddText("The program first reads the file system of the drive you choose and lists the files and folders it "
          "still knows of, deleted ones included. You can preview them and recover the ones you need.");
  AddText("Then it scans every sector of the drive (or only its free space) for the signatures of known file "
          "types, and so finds files whose names and folders are gone altogether.");
  AddText("Nothing is ever written to the drive being recovered: the files you choose are copied to a folder on "
          "another drive.");
  AddText("Choose the drive on the next page, the file types and the destination folder on the pages after it, "
          "and the wizard walks you through the scans and the recovery.");
  Layout()->addSpacing(12);
  AddText("Support: see Help, Contents, or the README that comes with the program.");
  AddText("Homepage: the project's source repository.");
  AddText(QString("Version: %1").arg(QCoreApplication::applicationVersion()));
  Layout()->addStretch(1);
  AddText("Click Next to continue...");
}

// ---------------------------------------------------------------------------

CWizardMode_Step1::CWizardMode_Step1(CWizardSession& session, QWidget* parent)
    : CWizardMode_Step1(session, 144, "Step 1 of 9: Select drive", parent) {}

CWizardMode_Step1::CWizardMode_Step1(CWizardSession& session, uint32_t titleString, const char* title,
                                     QWidget* parent)
    : CWizardMode_Page(titleString, title, parent), session_(session), drives_(new CMyComputerView) {
  setObjectName("WizardStep1");
  AddText("Select the drive letter of your card reader, digital device or hard drive:");
  Layout()->addWidget(drives_, 1);
  drives_->Retranslate();
  connect(drives_, &CMyComputerView::VolumeSelected, this, [this](CVolume* v) {
    if (v) session_.SetVolume(v);
    emit StateChanged();
  });
  connect(drives_, &CMyComputerView::VolumeChosen, this, [this](CVolume* v) {
    session_.SetVolume(v);
    emit DriveChosen();
  });
}

void CWizardMode_Step1::OnEnter() {
  // The drive list is built once per program; a wizard that starts the
  // program builds it here.
  if (theComputer().Volumes.GetCount() == 0) theComputer().Rescan();
  drives_->RefreshDrives();
  CVolume* volume = session_.Volume() ? session_.Volume() : theComputer().SelectedVolume();
  if (!volume) {
    const std::vector<CVolume*> volumes = theComputer().Volumes.Snapshot();
    if (!volumes.empty()) volume = volumes.front();
  }
  if (volume) drives_->SelectVolume(volume);
  if (drives_->SelectedVolume()) session_.SetVolume(drives_->SelectedVolume());
  drives_->setFocus();
  emit StateChanged();
}

bool CWizardMode_Step1::MayMoveOn() const { return drives_->SelectedVolume() != nullptr; }

CWizardMode_SelectDisk::CWizardMode_SelectDisk(CWizardSession& session, QWidget* parent)
    : CWizardMode_Step1(session, 403, "Step 1 of 4: Select drive", parent) {
  setObjectName("WizardSelectDisk");
}

// ---------------------------------------------------------------------------

CWizardMode_Step2::CWizardMode_Step2(QWidget* parent)
    : CWizardMode_Page(145, "Step 2 of 9: Select File Types", parent),
      types_(new CFileTypeTree(CFileTypeTree::Switch::SearchEnable)) {
  setObjectName("WizardStep2");
  AddText("File types that should be searched for and recovered:");
  Layout()->addWidget(types_, 1);
}

void LoadFileTypes(CFileTypeTree& tree) { tree.Load(theComputer().Signatures()); }

void SaveFileTypes(const CFileTypeTree& tree) {
  CFileSignatureDatabase& db = theComputer().Signatures();
  tree.Store(db);
  db.SaveAll();
}

void CWizardMode_Step2::OnEnter() { LoadFileTypes(*types_); }
void CWizardMode_Step2::OnLeave() { SaveFileTypes(*types_); }

// ---------------------------------------------------------------------------

CWizardMode_Step3::CWizardMode_Step3(QWidget* parent)
    : CWizardMode_Page(146, "Step 3 of 9: Choose sector-by-sector scanning mode", parent),
      free_(new QRadioButton("Scan free drive space only")),
      entire_(new QRadioButton("Scan entire drive")) {
  setObjectName("WizardStep3");
  free_->setObjectName("ScanFreeSpaceOnly");
  entire_->setObjectName("ScanEntireDrive");
  AddText("Select what program should do:");
  Layout()->addWidget(free_);
  AddText("Only the free clusters are checked: relatively fast.")->setIndent(24);
  Layout()->addWidget(entire_);
  AddText("Every cluster is checked: slower.")->setIndent(24);
  Layout()->addStretch(1);
  connect(free_, &QRadioButton::toggled, this,
          [](bool on) { theApp().Settings.WizardScanChoice = on ? 1 : 0; });
}

void CWizardMode_Step3::OnEnter() {
  const bool freeOnly = theApp().Settings.WizardScanChoice == 1;
  (freeOnly ? free_ : entire_)->setChecked(true);
}

// ---------------------------------------------------------------------------

CWizardDestinationBox::CWizardDestinationBox(CWizardSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      folder_(new QLineEdit),
      warning_(new QLabel),
      keepStructure_(new QCheckBox("Keep the folder structure")) {
  folder_->setObjectName("DestinationFolder");
  warning_->setObjectName("SameDriveWarning");
  keepStructure_->setObjectName("KeepFolderStructure");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* label = new QLabel("The target folder where the recovered files will be saved:");
  label->setWordWrap(true);
  layout->addWidget(label);
  auto* row = new QHBoxLayout;
  auto* browse = new QPushButton("Browse...");
  browse->setObjectName("BrowseDestination");
  row->addWidget(folder_, 1);
  row->addWidget(browse);
  layout->addLayout(row);
  warning_->setWordWrap(true);
  warning_->setText("The destination folder is on the same drive with the source. You should change the "
                    "destination location for recovered files.");
  warning_->setStyleSheet("color: #b00000;");
  layout->addWidget(warning_);
  layout->addWidget(keepStructure_);
  connect(folder_, &QLineEdit::textChanged, this, &CWizardDestinationBox::FolderEdited);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getExistingDirectory(this, kSelectDestinationTitle, folder_->text());
    if (!chosen.isEmpty()) folder_->setText(chosen);
  });
  connect(keepStructure_, &QCheckBox::toggled, this,
          [](bool on) { theApp().Settings.KeepFolderStructure = on ? 1 : 0; });
}

void CWizardDestinationBox::Reload() {
  folder_->setText(QString::fromStdString(theApp().Settings.DestinationFolderText()));
  keepStructure_->setChecked(theApp().Settings.KeepFolderStructure != 0);
  FolderEdited(folder_->text());
}

void CWizardDestinationBox::FolderEdited(const QString& text) {
  CSettings& s = theApp().Settings;
  if (QString::fromStdString(s.DestinationFolderText()) != text)
    CSettings::SetText(s.DestinationFolder, 4096, text.toStdString());
  const CVolume* volume = session_.Volume();
  warning_->setVisible(volume && !text.isEmpty() && IsDestinationOnSourceDrive(*volume, text.toStdString()));
}

CWizardMode_Step4::CWizardMode_Step4(CWizardSession& session, QWidget* parent)
    : CWizardMode_Page(147, "Step 4 of 9: Let the computer do all the work for you!", parent),
      destination_(new CWizardDestinationBox(session)) {
  setObjectName("WizardStep4");
  auto* autoPilot = new QGroupBox("Auto pilot:");
  auto* autoLayout = new QVBoxLayout(autoPilot);
  auto* automatic = new QCheckBox("Recover every file found automatically");
  automatic->setEnabled(false);
  autoLayout->addWidget(automatic);
  autoPilot->setEnabled(false);
  Layout()->addWidget(autoPilot);
  Layout()->addWidget(destination_);
  Layout()->addStretch(1);
}

void CWizardMode_Step4::OnEnter() { destination_->Reload(); }

// ---------------------------------------------------------------------------

CWizardMode_ScanParam::CWizardMode_ScanParam(CWizardSession& session, QWidget* parent)
    : CWizardMode_Page(404, "Step 2 of 4: Select path to recovery and Search file types", parent),
      types_(new CFileTypeTree(CFileTypeTree::Switch::SearchEnable)),
      destination_(new CWizardDestinationBox(session)) {
  setObjectName("WizardScanParam");
  AddText("File types (signatures) that should be searched for and recovered:");
  Layout()->addWidget(types_, 1);
  Layout()->addWidget(destination_);
}

void CWizardMode_ScanParam::OnEnter() {
  LoadFileTypes(*types_);
  destination_->Reload();
}

void CWizardMode_ScanParam::OnLeave() { SaveFileTypes(*types_); }
