#include "ui/qt_translation_targets.h"

#include <QAbstractButton>
#include <QAction>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QToolBar>

namespace {

const char* const kIdProperty = "qmId";
const char* const kDesignTextProperty = "qmDesignText";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The text a control or menu item was made with. The languages object takes
// the current text as the default of a missing key; handing it the designed
// (English) text instead lets a switch back to a language without the key
// restore the English text rather than keep the previous language's.
std::string DesignText(QObject* object, const QString& current) {
  QVariant stored = object->property(kDesignTextProperty);
  if (!stored.isValid()) {
    object->setProperty(kDesignTextProperty, current);
    return current.toStdString();
  }
  return stored.toString().toStdString();
}

// A child control seen through the window interface, for one visit.
class CControlTarget : public ITranslatableWindow {
public:
  explicit CControlTarget(QWidget* control) : control_(control) {}
  bool IsAlive() const override { return true; }
  int GetId() const override { return ControlId(control_); }
  std::string GetClassName() const override { return control_->metaObject()->className(); }
  std::string GetText() const override {
    if (auto* l = qobject_cast<QLabel*>(control_)) return DesignText(l, l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(control_)) return DesignText(b, b->text());
    if (auto* g = qobject_cast<QGroupBox*>(control_)) return DesignText(g, g->title());
    return DesignText(control_, control_->windowTitle());
  }
  void SetText(const std::string& text) override {
    if (auto* l = qobject_cast<QLabel*>(control_)) return l->setText(Q(text));
    if (auto* b = qobject_cast<QAbstractButton*>(control_)) return b->setText(Q(text));
    if (auto* g = qobject_cast<QGroupBox*>(control_)) return g->setTitle(Q(text));
    control_->setWindowTitle(Q(text));
  }
  void ForEachChild(const std::function<void(ITranslatableWindow&)>&) override {}
  ITranslatableMenu* GetMenuBar() override { return nullptr; }
  void PostMessage(uint32_t, uintptr_t, intptr_t) override {}

private:
  QWidget* control_;
};

}  // namespace

void SetControlId(QWidget* control, int id) { control->setProperty(kIdProperty, id); }

int ControlId(const QWidget* control) {
  const QVariant v = control->property(kIdProperty);
  return v.isValid() ? v.toInt() : 0;
}

CQtTranslatableWindow::CQtTranslatableWindow(QWidget* window, int id, std::string className,
                                             std::function<void()> languageChanged)
    : window_(window), id_(id), className_(std::move(className)), languageChanged_(std::move(languageChanged)) {}

std::string CQtTranslatableWindow::GetText() const {
  if (!window_) return {};
  if (auto* dock = qobject_cast<QDockWidget*>(window_.data())) return dock->windowTitle().toStdString();
  return window_->windowTitle().toStdString();
}

void CQtTranslatableWindow::SetText(const std::string& text) {
  if (window_) window_->setWindowTitle(Q(text));
}

void CQtTranslatableWindow::ForEachChild(const std::function<void(ITranslatableWindow& child)>& visit) {
  if (!window_) return;
  for (QWidget* child : window_->findChildren<QWidget*>()) {
    if (!child->property(kIdProperty).isValid()) continue;
    CControlTarget target(child);
    visit(target);
  }
}

ITranslatableMenu* CQtTranslatableWindow::GetMenuBar() {
  // The one window with a menu bar, the main window, registers it as the
  // main menu ("MainMenu").
  return nullptr;
}

void CQtTranslatableWindow::PostMessage(uint32_t, uintptr_t, intptr_t) {
  // The only message is "language changed"; it runs once the translation
  // has finished, as a posted message would.
  if (!window_ || !languageChanged_) return;
  QMetaObject::invokeMethod(window_.data(), languageChanged_, Qt::QueuedConnection);
}

CQtTranslatableMenu::CQtTranslatableMenu(QWidget* menu, std::vector<int> shownAt)
    : menu_(menu), shownAt_(std::move(shownAt)) {}

QAction* CQtTranslatableMenu::ItemAt(int position) const {
  if (!menu_ || position < 0) return nullptr;
  if (static_cast<size_t>(position) < shownAt_.size()) position = shownAt_[static_cast<size_t>(position)];
  const QList<QAction*> actions = menu_->actions();
  return position < actions.size() ? actions[position] : nullptr;
}

int CQtTranslatableMenu::GetItemCount() const { return menu_ ? static_cast<int>(menu_->actions().size()) : 0; }

ITranslatableMenu::ItemKind CQtTranslatableMenu::GetItemKind(int position) const {
  QAction* a = ItemAt(position);
  if (!a || a->isSeparator()) return ItemKind::Separator;
  return a->menu() ? ItemKind::Popup : ItemKind::Command;
}

int CQtTranslatableMenu::GetItemId(int position) const {
  QAction* a = ItemAt(position);
  return a && !a->menu() ? a->data().toInt() : 0;
}

std::string CQtTranslatableMenu::GetItemText(int position) const {
  QAction* a = ItemAt(position);
  return a ? DesignText(a, a->text()) : std::string();
}

void CQtTranslatableMenu::SetItemText(int position, const std::string& text) {
  if (QAction* a = ItemAt(position)) a->setText(Q(text));
}

ITranslatableMenu* CQtTranslatableMenu::GetSubMenu(int position) {
  QAction* a = ItemAt(position);
  if (!a || !a->menu()) return nullptr;
  for (auto& [menu, wrapper] : subMenus_)
    if (menu == a->menu()) return wrapper.get();
  subMenus_.emplace_back(a->menu(), std::make_unique<CQtTranslatableMenu>(a->menu()));
  return subMenus_.back().second.get();
}

void CQtTranslatableMenu::Refresh() {
  if (menu_) menu_->update();
}

CQtTranslatableContextMenu::CQtTranslatableContextMenu(QMenu* menu) : items_(menu) {}

CQtTranslatableToolBar::CQtTranslatableToolBar(QToolBar* toolBar) : toolBar_(toolBar) {}

QAction* CQtTranslatableToolBar::ButtonAt(int position) const {
  if (!toolBar_ || position < 0) return nullptr;
  const QList<QAction*> actions = toolBar_->actions();
  return position < actions.size() ? actions[position] : nullptr;
}

int CQtTranslatableToolBar::GetButtonCount() const {
  return toolBar_ ? static_cast<int>(toolBar_->actions().size()) : 0;
}

int CQtTranslatableToolBar::GetButtonId(int position) const {
  QAction* a = ButtonAt(position);
  return a && !a->isSeparator() ? a->data().toInt() : 0;
}

std::string CQtTranslatableToolBar::GetButtonText(int position) const {
  // The tool bar's text is the action's icon text; the menu's is its text.
  QAction* a = ButtonAt(position);
  if (!a) return {};
  QVariant stored = a->property("qmDesignIconText");
  if (!stored.isValid()) a->setProperty("qmDesignIconText", a->iconText());
  return a->property("qmDesignIconText").toString().toStdString();
}

void CQtTranslatableToolBar::SetButtonText(int position, const std::string& text) {
  if (QAction* a = ButtonAt(position)) a->setIconText(Q(text));
}
