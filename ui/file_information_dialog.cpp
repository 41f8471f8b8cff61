#include "ui/file_information_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/format.h"
#include "ui/dialog_texts.h"
#include "ui/file_type_tree.h"
#include "ui/found_object_list_model.h"
#include "ui/ui_texts.h"

namespace {

constexpr const char* kSection = "FileInformation";

QString Number(uint64_t n) { return QLocale().toString(static_cast<qulonglong>(n)); }

QString Format3(uint32_t number, const char* fallback, uint64_t a, uint64_t b, uint64_t c) {
  const std::string format = UiString(number, fallback).toStdString();
  return QString::fromStdString(qm::Format(format, static_cast<int64_t>(a), static_cast<int64_t>(b), static_cast<int64_t>(c)));
}

// A page of the file type: a read-only text.
QWidget* TextPage(const QString& text, QWidget* parent) {
  auto* page = new QPlainTextEdit(text, parent);
  page->setReadOnly(true);
  return page;
}

QWidget* NamedPage(QWidget* page, int id) {
  page->setWindowTitle(DesignedText(kSection, id));
  SetControlId(page, id);
  return page;
}

}  // namespace

CFileInformationViewDlg::CFileInformationViewDlg(const CFoundObject& object, QWidget* parent)
    : QDialog(parent), object_(object), tabs_(new QTabWidget(this)) {
  setObjectName("FileInformationDialog");
  // The data runs, as the recovery would read them.
  if (object_.Volume) runs_ = CFoundObjectReader(object_).Runs;
  uint64_t sectors = 0;
  for (const FoundObjectRun& run : runs_) sectors += run.Kind == FoundObjectRun::Source::Volume ? run.SectorCount : 0;

  const CFileType* type = object_.Volume ? theComputer().Signatures().FindTypeForObject(object_) : nullptr;
  const QString unknown = UiString(61411, "unknown");
  const bool lost = (object_.Flags & FOF_SIGNATURE) != 0;
  QString status = lost ? UiString(61410, "Lost") : object_.IsDeleted() ? UiString(176, "Deleted") : UiString(177, "Live");
  QString location;
  if (object_.Volume) location = QString::fromStdString(object_.Volume->Catalog().GetFullPath(&object_));
  const auto time = [&unknown](uint64_t t) {
    const QString text = FileTimeText(t);
    return text.isEmpty() ? unknown : text;
  };
  const std::vector<std::pair<Field, QString>> fields = {
      {FieldId, QString::number(object_.ObjectID)},
      {FieldParentId, QString::number(object_.ParentID)},
      {FieldOffset, Number(object_.StartOffset)},
      {FieldSize, object_.IsFolder() ? QString("-") : object_.SizeKnown() ? Number(object_.Size) : unknown},
      {FieldSizeOnDisk, Number(sectors * 512)},
      {FieldType, object_.Volume ? QString::fromStdString(object_.Volume->Catalog().GetTypeName(&object_)) : unknown},
      {FieldSignature, lost && type ? QString::fromStdString(type->Title) : QString("-")},
      {FieldStatus, status},
      {FieldLocation, location},
      {FieldCreated, time(object_.CreationTime)},
      {FieldModified, time(object_.ModificationTime)},
      {FieldAccessed, time(object_.AccessTime)},
  };

  auto* general = NamedPage(new QWidget, 1200);
  auto* layout = new QVBoxLayout(general);
  auto* name = new QLabel(QString::fromStdString(object_.Name), general);
  name->setObjectName("ObjectName");
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  layout->addWidget(name);
  auto* form = new QFormLayout;
  for (const auto& [field, value] : fields) {
    auto* label = NewControl<QLabel>(kSection, field, general);
    auto* v = new QLabel(value, general);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, v);
    values_.emplace_back(field, v);
  }
  layout->addLayout(form);
  auto* listButtons = new QHBoxLayout;
  auto* sectorsButton = NewControl<QPushButton>(kSection, 1213, general);
  auto* clustersButton = NewControl<QPushButton>(kSection, 1214, general);
  listButtons->addWidget(sectorsButton);
  listButtons->addWidget(clustersButton);
  listButtons->addStretch(1);
  layout->addLayout(listButtons);
  layout->addStretch(1);
  sectorsButton->setEnabled(!runs_.empty());
  clustersButton->setEnabled(!runs_.empty());
  connect(sectorsButton, &QPushButton::clicked, this,
          [this, sectorsButton] { ShowList(sectorsButton->text(), SectorsListText()); });
  connect(clustersButton, &QPushButton::clicked, this,
          [this, clustersButton] { ShowList(clustersButton->text(), ClustersListText()); });
  tabs_->addTab(general, general->windowTitle());

  // A lost file: what its type's record says about it.
  if (lost && type) {
    tabs_->addTab(NamedPage(TextPage(QString::fromStdString(type->Description), this), 1215), QString());
    tabs_->addTab(NamedPage(TextPage(FileTypeSignatureText(*type), this), 1216), QString());
    QStringList facts;
    for (const auto& [label, value] : FileTypeFacts(*type)) facts << label + " " + value;
    tabs_->addTab(NamedPage(TextPage(facts.join('\n'), this), 1217), QString());
  }
  QDialogButtonBox* buttons = LayOutTabbedDialog(this, tabs_);
  connect(AddDialogButton(buttons, kSection, IDC_OK), &QPushButton::clicked, this, &QDialog::accept);
  resize(480, 480);
  RegisterDialog(kSection, this);
}

QString CFileInformationViewDlg::Value(Field field) const {
  for (const auto& [f, label] : values_)
    if (f == field) return label->text();
  return {};
}

QString CFileInformationViewDlg::SectorsListText() const {
  QStringList lines;
  uint64_t elsewhere = 0;
  for (const FoundObjectRun& run : runs_) {
    if (run.Kind != FoundObjectRun::Source::Volume || run.SectorCount == 0) {
      elsewhere += run.SectorCount;
      continue;
    }
    lines << Format3(61413, "Sector %I64d - %I64d (%I64d sectors)", run.StartSector,
                     run.StartSector + run.SectorCount - 1, run.SectorCount);
  }
  if (elsewhere)
    lines << QString::fromStdString(qm::Format(UiString(61415, "Not on the volume's clusters: %I64d sectors").toStdString(),
                                               static_cast<int64_t>(elsewhere)));
  return lines.join('\n');
}

QString CFileInformationViewDlg::ClustersListText() const {
  // Clusters counted as the file system counts them: the sector of cluster
  // 2 and the cluster size give every other.
  CVolume* volume = object_.Volume;
  if (!volume) return {};
  CFileSystem& fs = volume->FileSystem();
  const uint64_t base = fs.ClusterToSector(2);
  const uint64_t next = fs.ClusterToSector(3);
  const uint64_t perCluster = next > base ? next - base : 1;
  QStringList lines;
  uint64_t elsewhere = 0;
  for (const FoundObjectRun& run : runs_) {
    if (run.Kind != FoundObjectRun::Source::Volume || run.SectorCount == 0 || run.StartSector < base) {
      elsewhere += run.SectorCount;
      continue;
    }
    const uint64_t first = 2 + (run.StartSector - base) / perCluster;
    const uint64_t last = 2 + (run.StartSector + run.SectorCount - 1 - base) / perCluster;
    lines << Format3(61414, "Cluster %I64d - %I64d (%I64d clusters)", first, last, last - first + 1);
  }
  if (elsewhere)
    lines << QString::fromStdString(qm::Format(UiString(61415, "Not on the volume's clusters: %I64d sectors").toStdString(),
                                               static_cast<int64_t>(elsewhere)));
  return lines.join('\n');
}

void CFileInformationViewDlg::ShowList(const QString& title, const QString& text) {
  QDialog list(this);
  list.setWindowTitle(QString(title).remove('&'));
  auto* layout = new QVBoxLayout(&list);
  auto* view = new QPlainTextEdit(text, &list);
  view->setReadOnly(true);
  layout->addWidget(view);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &list);
  connect(buttons, &QDialogButtonBox::accepted, &list, &QDialog::accept);
  layout->addWidget(buttons);
  list.resize(360, 300);
  list.exec();
}
