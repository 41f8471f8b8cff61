#include "ui/hex_viewer_pane.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "engine/catalog/found_object.h"
#include "ui/hex_editor_ctrl.h"

CHexViewer_Pane::CHexViewer_Pane(QWidget* parent)
    : QWidget(parent), control_(new CHexEditorCtrl(this)), groups_(new QComboBox(this)), title_(new QLabel(this)) {
  setObjectName("DataViewer");
  groups_->addItems({"1", "2", "4"});
  connect(groups_, &QComboBox::currentIndexChanged, this,
          [this](int index) { control_->SetGroupBytes(1 << index); });
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 2);
  bar->addWidget(title_, 1);
  bar->addWidget(groups_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(bar);
  layout->addWidget(control_, 1);
}

void CHexViewer_Pane::ShowObject(const CFoundObject* object) {
  control_->SetObject(object);
  title_->setText(object ? QString::fromStdString(object->Name) : QString());
}
