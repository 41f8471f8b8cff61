#include "ui/wizard_mode_finish.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/app_ui.h"
#include "ui/wizard_session.h"

CWizardMode_Finish::CWizardMode_Finish(CWizardSession& session, uint32_t titleString, const char* title,
                                       QWidget* parent)
    : CWizardMode_Page(titleString, title, parent), session_(session), found_(new QLabel), recovered_(new QLabel) {
  setObjectName("WizardFinish");
  found_->setObjectName("FilesFound");
  recovered_->setObjectName("FilesRecovered");
  auto* counts = new QGridLayout;
  counts->addWidget(new QLabel("Files found:"), 0, 0);
  counts->addWidget(found_, 0, 1);
  counts->addWidget(new QLabel("Files Recovered:"), 1, 0);
  counts->addWidget(recovered_, 1, 1);
  counts->setColumnStretch(2, 1);
  Layout()->addLayout(counts);
  Layout()->addSpacing(16);

  auto* explore = new QPushButton("Explore Recovered Files");
  explore->setObjectName("ExploreRecoveredFiles");
  Layout()->addWidget(explore, 0, Qt::AlignLeft);
  AddText("Open Windows Explorer to see the recovered files.");
  Layout()->addSpacing(16);
  auto* another = new QPushButton("Process Another Drive");
  another->setObjectName("ProcessAnotherDrive");
  Layout()->addWidget(another, 0, Qt::AlignLeft);
  AddText("If you have not found the file you were looking for, try searching another drive.");
  Layout()->addStretch(1);
  connect(explore, &QPushButton::clicked, this, [] { theAppUi().ExploreDestination(); });
  connect(another, &QPushButton::clicked, this, &CWizardMode_Finish::ProcessAnotherDrive);
}

void CWizardMode_Finish::OnEnter() {
  found_->setText(QString::number(session_.FilesFound()));
  recovered_->setText(QString::number(session_.RecoveredCount()));
}
