#include "ui/qt_translation_targets.h"

#include <QAbstractButton>
#include <QAction>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QToolBar>

namespace {

const char* const kIdProperty = "qmId";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A child control seen through the window interface, for one visit.
class CControlTarget : public ITranslatableWindow {
public:
  explicit CControlTarget(QWidget* control) : control_(control) {}
  bool IsAlive() const override { return true; }
  int GetId() const override { return ControlId(control_); }
  std::string GetClassName() const override { return control_->metaObject()->className(); }
  std::string GetText() const override {
    if (auto* l = qobject_cast<QLabel*>(control_)) return l->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(control_)) return b->text().toStdString();
    if (auto* g = qobject_cast<QGroupBox*>(control_)) return g->title().toStdString();
    return control_->windowTitle().toStdString();
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
  auto* main = qobject_cast<QMainWindow*>(window_.data());
  if (!main || !main->menuWidget()) return nullptr;
  if (!menuBar_) menuBar_ = std::make_unique<CQtTranslatableMenu>(main->menuWidget());
  return menuBar_.get();
}

void CQtTranslatableWindow::PostMessage(uint32_t, uintptr_t, intptr_t) {
  // The only message is "language changed"; it runs once the translation
  // has finished, as a posted message would.
  if (!window_ || !languageChanged_) return;
  QMetaObject::invokeMethod(window_.data(), languageChanged_, Qt::QueuedConnection);
}

CQtTranslatableMenu::CQtTranslatableMenu(QWidget* menu) : menu_(menu) {}

QAction* CQtTranslatableMenu::ItemAt(int position) const {
  if (!menu_ || position < 0) return nullptr;
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
  return a ? a->text().toStdString() : std::string();
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
  QAction* a = ButtonAt(position);
  return a ? a->iconText().toStdString() : std::string();
}

void CQtTranslatableToolBar::SetButtonText(int position, const std::string& text) {
  if (QAction* a = ButtonAt(position)) a->setIconText(Q(text));
}
