#include "ui/volume_information_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

#include "engine/filesystems/file_system.h"
#include "engine/volume/volume.h"
#include "platform/block_devices.h"
#include "ui/dialog_texts.h"
#include "ui/ui_texts.h"

namespace {

constexpr const char* kSection = "VolumeInformation";

QString Bytes(uint64_t n) {
  return QString("%1 (%2)").arg(QLocale().toString(static_cast<qulonglong>(n)), QLocale().formattedDataSize(
                                                                                       static_cast<qint64>(n)));
}

QString Number(uint64_t n) { return QLocale().toString(static_cast<qulonglong>(n)); }

// The eight OEM-name bytes of a FAT, exFAT or NTFS boot sector, when they
// are printable.
QString OemId(const CVolume& volume) {
  QString text;
  for (int i = 3; i < 11; ++i) {
    const uint8_t c = volume.BootBuffer[static_cast<size_t>(i)];
    if (c < 0x20 || c > 0x7E) return QString("-");
    text += QChar(c);
  }
  return text.trimmed().isEmpty() ? QString("-") : text.trimmed();
}

// A FAT serial number reads as two groups of four hex digits; an NTFS one
// has sixteen.
QString SerialText(uint64_t serial) {
  if (serial == 0) return QString("-");
  if (serial <= 0xFFFFFFFFull)
    return QString("%1-%2").arg(serial >> 16, 4, 16, QChar('0')).arg(serial & 0xFFFF, 4, 16, QChar('0')).toUpper();
  return QString("%1").arg(serial, 16, 16, QChar('0')).toUpper();
}

}  // namespace

CVolumeInformationDlg::CVolumeInformationDlg(CVolume& volume, QWidget* parent)
    : QDialog(parent), tabs_(new QTabWidget(this)) {
  setObjectName("VolumeInformationDialog");
  const QString unknown = UiString(61411, "unknown");
  const QString notReported = UiString(61403, "Not reported by the file system");
  const auto text = [&unknown](const std::string& s) { return s.empty() ? unknown : QString::fromStdString(s); };

  // What libblkid reads from the volume: the drive list asks it for disks
  // and partitions; an image file is asked now.
  qm::BlockIdFacts facts;
  facts.Type = volume.FileSystemText;
  facts.Label = volume.Label;
  facts.Uuid = volume.Uuid;
  facts.Serial = volume.SerialNumber;
  if (volume.Kind == VolumeImage && facts.Uuid.empty()) {
    const qm::BlockIdFacts probed = qm::ProbeBlockId(volume.GetDevicePath());
    if (probed.Probed) facts = probed;
  }
  QString fileSystem = QString::fromStdString(volume.FileSystem().FileSystemName);
  if (fileSystem.isEmpty() || fileSystem == "Unknown") fileSystem = text(facts.Type);
  const int32_t state = volume.State.load();
  const QString status = !volume.MediumPresent() || state == StateNotReady ? UiString(61412, "No Media")
                                                                            : QString(CVolume::StateText(state));
  const bool mounted = !volume.MountPoint.empty();
  tabs_->addTab(Page(1300,
                     {{1303, fileSystem},
                      {1304, status},
                      {1305, text(facts.Label)},
                      {1306, OemId(volume)},
                      {1307, SerialText(facts.Serial)},
                      {1308, volume.SizeKnown() && volume.Size ? Bytes(volume.Size) : unknown},
                      {1309, mounted ? Bytes(volume.FreeBytes) : unknown}},
                     QString::fromStdString(volume.DisplayNameText())),
                QString());

  // The system reports one of these features, and only for a mounted
  // volume: whether it is mounted read-only.
  std::vector<std::pair<int, QString>> capabilities;
  const std::optional<bool> readOnly = mounted ? qm::ReadOnlyAt(volume.MountPoint) : std::nullopt;
  for (int id = 1310; id <= 1322; ++id) {
    QString value = notReported;
    if (id == 1311 && readOnly) value = *readOnly ? UiString(61401, "Yes") : UiString(61402, "No");
    capabilities.emplace_back(id, value);
  }
  tabs_->addTab(Page(1301, capabilities), QString());

  const PartitionInformation& partition = volume.Layout.Entries[0];
  tabs_->addTab(Page(1302, {{1330, text(volume.DevicePath)},
                            {1331, QString(CVolume::KindText(volume.Kind))},
                            {1332, QString(CVolume::MediaTypeText(volume.MediaType))},
                            {1333, text(CVolume::ProductText(volume.Vendor, volume.Model))},
                            {1334, text(volume.MountPoint)},
                            {1335, text(facts.Uuid)},
                            {1336, Number(volume.BytesPerSector)},
                            {1337, Number(volume.SectorsPerCluster)},
                            {1338, Number(volume.TotalSectors)},
                            {1339, Number(volume.TotalClusters)},
                            {1340, Number(static_cast<uint64_t>(std::max<int64_t>(volume.Geometry.Cylinders, 0)))},
                            {1341, Number(volume.Geometry.TracksPerCylinder)},
                            {1342, Number(volume.Geometry.SectorsPerTrack)},
                            {1343, Number(volume.VolumeStartOffset)},
                            {1344, partition.PartitionType
                                       ? QString("0x%1").arg(partition.PartitionType, 2, 16, QChar('0')).toUpper()
                                       : QString("-")}}),
                QString());
  QDialogButtonBox* buttons = LayOutTabbedDialog(this, tabs_);
  connect(AddDialogButton(buttons, kSection, IDC_OK), &QPushButton::clicked, this, &QDialog::accept);
  resize(500, 480);
  RegisterDialog(kSection, this);
}

QWidget* CVolumeInformationDlg::Page(int titleId, const std::vector<std::pair<int, QString>>& rows,
                                     const QString& heading) {
  auto* page = new QWidget;
  page->setWindowTitle(DesignedText(kSection, titleId));
  SetControlId(page, titleId);
  auto* layout = new QVBoxLayout(page);
  if (!heading.isEmpty()) {
    auto* name = new QLabel(heading, page);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    layout->addWidget(name);
  }
  auto* form = new QFormLayout;
  for (const auto& [id, value] : rows) {
    auto* v = new QLabel(value, page);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(NewControl<QLabel>(kSection, id, page), v);
    values_.emplace_back(id, v);
  }
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

QString CVolumeInformationDlg::Value(int labelId) const {
  for (const auto& [id, label] : values_)
    if (id == labelId) return label->text();
  return {};
}
