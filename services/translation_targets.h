// How the languages object reaches the front end's windows, menus, tool bars
// and the language list: a small interface with no toolkit in it. The desktop
// program implements it over its widgets; tests implement it over plain
// objects. All text is UTF-8. Every call is made on the interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A window: a dialog, a view, a wizard page, or one control inside one.
class ITranslatableMenu;

class ITranslatableWindow {
public:
  virtual ~ITranslatableWindow() = default;

  // False once the window behind this object has been destroyed; such
  // entries are dropped at the next language change.
  virtual bool IsAlive() const = 0;
  // The control identifier (0 for a top-level window, -1 or 65535 for a
  // static control that is never translated).
  virtual int GetId() const = 0;
  // The window class. Children are translated only for "CDialog",
  // "CFormView" and "#32770".
  virtual std::string GetClassName() const = 0;
  // The title of a window, the caption of a control.
  virtual std::string GetText() const = 0;
  virtual void SetText(const std::string& text) = 0;
  // Visits every child window (controls included, at any depth). The
  // reference is valid only during the call.
  virtual void ForEachChild(const std::function<void(ITranslatableWindow& child)>& visit) = 0;
  // The window's menu bar, or null when it has none; owned by the window.
  virtual ITranslatableMenu* GetMenuBar() = 0;
  // Queues a message to the window (WM_LANGUAGE_CHANGED after a translation).
  virtual void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// A menu: the main menu, a window's menu bar, or a pop-up inside one.
class ITranslatableMenu {
public:
  enum class ItemKind { Command, Popup, Separator };

  virtual ~ITranslatableMenu() = default;

  virtual bool IsAlive() const = 0;
  virtual int GetItemCount() const = 0;
  virtual ItemKind GetItemKind(int position) const = 0;
  // The command identifier of a command item (0 for none).
  virtual int GetItemId(int position) const = 0;
  virtual std::string GetItemText(int position) const = 0;
  virtual void SetItemText(int position, const std::string& text) = 0;
  // The pop-up at the position, or null when the item is not one; owned by
  // this menu.
  virtual ITranslatableMenu* GetSubMenu(int position) = 0;
  // Redraws the menu (the command bar that shows it) after its items were
  // renamed.
  virtual void Refresh() = 0;
};

// A tool bar: buttons addressed by position.
class ITranslatableToolBar {
public:
  virtual ~ITranslatableToolBar() = default;

  virtual bool IsAlive() const = 0;
  virtual int GetButtonCount() const = 0;
  // The button's command identifier (0 for a separator).
  virtual int GetButtonId(int position) const = 0;
  // The button's text; empty when it has none (such buttons stay as they are).
  virtual std::string GetButtonText(int position) const = 0;
  virtual void SetButtonText(int position, const std::string& text) = 0;
};

// The choice of languages on the settings page (a combo box).
class ILanguageChoice {
public:
  virtual ~ILanguageChoice() = default;

  virtual void AddItem(const std::string& text) = 0;
  virtual void SetCurrentIndex(int index) = 0;
  virtual void SetEnabled(bool enabled) = 0;
};
