// The languages object's view of the desktop program's widgets: windows,
// menus and tool bars wrapped in the toolkit-free translation interfaces.
//
// A control takes part in a window's translation when it carries its
// identifier in the property "qmId" (SetControlId); its text is the
// caption of a label, button, check box or group box, or the title of a
// window. Menu items carry their command identifiers as QAction data.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/translation_targets.h"

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;

// Gives a control the identifier its language-file key is made of.
void SetControlId(QWidget* control, int id);
int ControlId(const QWidget* control);

class CQtTranslatableWindow : public ITranslatableWindow {
public:
  // `languageChanged` runs when the languages object has translated the
  // window (the window rebuilds the texts it makes itself).
  CQtTranslatableWindow(QWidget* window, int id, std::string className, std::function<void()> languageChanged = {});

  bool IsAlive() const override { return !window_.isNull(); }
  int GetId() const override { return id_; }
  std::string GetClassName() const override { return className_; }
  std::string GetText() const override;
  void SetText(const std::string& text) override;
  void ForEachChild(const std::function<void(ITranslatableWindow& child)>& visit) override;
  ITranslatableMenu* GetMenuBar() override;
  void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

private:
  QPointer<QWidget> window_;
  int id_;
  std::string className_;
  std::function<void()> languageChanged_;
};

class CQtTranslatableMenu : public ITranslatableMenu {
public:
  // Over a menu bar or a pop-up menu. The language files key a menu bar's
  // pop-up titles by their designed position; `shownAt` gives, for each
  // designed position, where the item is shown when a layout reorders them
  // (empty: in the designed order).
  explicit CQtTranslatableMenu(QWidget* menu, std::vector<int> shownAt = {});

  bool IsAlive() const override { return !menu_.isNull(); }
  int GetItemCount() const override;
  ItemKind GetItemKind(int position) const override;
  int GetItemId(int position) const override;
  std::string GetItemText(int position) const override;
  void SetItemText(int position, const std::string& text) override;
  ITranslatableMenu* GetSubMenu(int position) override;
  void Refresh() override;

private:
  QAction* ItemAt(int position) const;
  QPointer<QWidget> menu_;
  std::vector<int> shownAt_;
  std::vector<std::pair<QMenu*, std::unique_ptr<CQtTranslatableMenu>>> subMenus_;
};

// A context menu as the languages object sees a registered menu: one
// untitled pop-up holding the menu's items, which are keyed by command.
class CQtTranslatableContextMenu : public ITranslatableMenu {
public:
  explicit CQtTranslatableContextMenu(QMenu* menu);

  bool IsAlive() const override { return items_.IsAlive(); }
  int GetItemCount() const override { return 1; }
  ItemKind GetItemKind(int) const override { return ItemKind::Popup; }
  int GetItemId(int) const override { return 0; }
  std::string GetItemText(int) const override { return {}; }
  void SetItemText(int, const std::string&) override {}
  ITranslatableMenu* GetSubMenu(int position) override { return position == 0 ? &items_ : nullptr; }
  void Refresh() override { items_.Refresh(); }

private:
  CQtTranslatableMenu items_;
};

class CQtTranslatableToolBar : public ITranslatableToolBar {
public:
  explicit CQtTranslatableToolBar(QToolBar* toolBar);

  bool IsAlive() const override { return !toolBar_.isNull(); }
  int GetButtonCount() const override;
  int GetButtonId(int position) const override;
  std::string GetButtonText(int position) const override;
  void SetButtonText(int position, const std::string& text) override;

private:
  QAction* ButtonAt(int position) const;
  QPointer<QToolBar> toolBar_;
};
