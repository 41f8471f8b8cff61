// The designed texts of the dialogs (their language-file sections as the
// built-in English has them) and the dialogs' registration with the
// languages object.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

#include "ui/qt_translation_targets.h"

// The designed English of control `id` (key "0": the title) in `section`.
QString DesignedText(const char* section, int id);

// A control of class W (a label, button, check box or radio button) with
// its designed text and identifier, so that a language change renames it.
template <class W>
W* NewControl(const char* section, int id, QWidget* parent) {
  auto* control = new W(DesignedText(section, id), parent);
  SetControlId(control, id);
  return control;
}

// Registers a dialog, or a page of one, under its section (a "CDialog": its
// title is key "0", its controls are keyed by identifier) and translates it
// now. `languageChanged` runs after each translation so the dialog rebuilds
// the texts it makes itself.
void RegisterDialog(const char* section, QWidget* dialog, std::function<void()> languageChanged = {});

// Keeps each tab's text equal to its page's title (which the languages
// object sets), now and after every language change.
void FollowPageTitles(class QTabWidget* tabs);
// Lays the dialog out as its tabs above a button box (returned, empty);
// the tabs follow their pages' titles.
class QDialogButtonBox* LayOutTabbedDialog(class QDialog* dialog, class QTabWidget* tabs);
// A button of the dialog's button box with its designed text and
// identifier.
class QPushButton* AddDialogButton(class QDialogButtonBox* box, const char* section, int id);

// Common identifiers of the dialogs' buttons.
enum DialogButtonId : int { IDC_OK = 1, IDC_CANCEL = 2, IDC_APPLY = 12321 };
