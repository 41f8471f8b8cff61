#include "ui/dialog_parts.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "ui/qt_translation_targets.h"

namespace {

template <class Control>
Control* WithId(Control* control, int id) {
  if (id) SetControlId(control, id);
  return control;
}

}  // namespace

QLabel* DialogLabel(const char* text, int id, QWidget* parent) {
  auto* label = WithId(new QLabel(QString::fromUtf8(text), parent), id);
  label->setWordWrap(true);
  return label;
}

QPushButton* DialogButton(const char* text, int id, QWidget* parent) {
  auto* button = WithId(new QPushButton(QString::fromUtf8(text), parent), id);
  button->setAutoDefault(false);
  return button;
}

QCheckBox* DialogCheckBox(const char* text, int id, QWidget* parent) {
  return WithId(new QCheckBox(QString::fromUtf8(text), parent), id);
}

QRadioButton* DialogRadio(const char* text, int id, QWidget* parent) {
  return WithId(new QRadioButton(QString::fromUtf8(text), parent), id);
}
