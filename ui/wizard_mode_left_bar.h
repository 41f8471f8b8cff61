// The wizards' left bar: the titles of the steps, the current one marked.
#pragma once

#include <QListWidget>

class CWizardMode_LeftBar : public QListWidget {
  Q_OBJECT
public:
  explicit CWizardMode_LeftBar(QWidget* parent = nullptr);
  void SetSteps(const QStringList& titles);
  void SetCurrentStep(int index);
};
