// Small pieces the dialogs are built from: controls that carry the
// identifier their language-file key is made of, and the standard button
// identifiers.
#pragma once

#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

// The identifiers of the standard buttons (keys "1", "2" and "9").
enum DialogButtonId : int { IDC_BUTTON_OK = 1, IDC_BUTTON_CANCEL = 2, IDC_BUTTON_HELP = 9 };

QLabel* DialogLabel(const char* text, int id, QWidget* parent);
QPushButton* DialogButton(const char* text, int id, QWidget* parent);
QCheckBox* DialogCheckBox(const char* text, int id, QWidget* parent);
QRadioButton* DialogRadio(const char* text, int id, QWidget* parent);

