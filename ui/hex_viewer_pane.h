// The data viewer pane: the hexadecimal control and the choice of 1-, 2-
// or 4-byte groups.
#pragma once

#include <QWidget>

struct CFoundObject;
class CHexEditorCtrl;
class QComboBox;
class QLabel;

class CHexViewer_Pane : public QWidget {
  Q_OBJECT
public:
  explicit CHexViewer_Pane(QWidget* parent = nullptr);
  CHexEditorCtrl& Control() { return *control_; }
  void ShowObject(const CFoundObject* object);

private:
  CHexEditorCtrl* control_;
  QComboBox* groups_;
  QLabel* title_;
};
