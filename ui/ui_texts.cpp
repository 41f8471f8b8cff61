#include "ui/ui_texts.h"

#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "services/strings.h"
#include "ui/qt_translation_targets.h"

namespace {

// The registered windows, until the languages object holds them.
struct Registered {
  std::vector<std::shared_ptr<ITranslatableWindow>> windows;
  std::vector<std::shared_ptr<ITranslatableMenu>> menus;
  std::vector<std::shared_ptr<ITranslatableToolBar>> toolBars;
};

Registered& Registry() {
  static Registered registered;
  return registered;
}

template <class T>
void DropDead(std::vector<std::shared_ptr<T>>& list) {
  std::erase_if(list, [](const std::shared_ptr<T>& t) { return !t->IsAlive(); });
}

}  // namespace

QString UiString(uint32_t number, const char* fallback) {
  const std::string s = GetString(number);
  return s.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(s);
}

void RegisterView(const char* section, QWidget* view, int id, std::function<void()> languageChanged) {
  (void)section;
  auto window = std::make_shared<CQtTranslatableWindow>(view, id, "CFormView", std::move(languageChanged));
  window->PostMessage(0, 0, 0);
  Registry().windows.push_back(std::move(window));
}

void RegisterMenu(const char* section, QMenu* menu) {
  (void)section;
  Registry().menus.push_back(std::make_shared<CQtTranslatableMenu>(menu));
}

void RegisterMainMenu(QMenuBar* menuBar) { Registry().menus.push_back(std::make_shared<CQtTranslatableMenu>(menuBar)); }

void RegisterToolBar(const char* section, QToolBar* toolBar) {
  (void)section;
  Registry().toolBars.push_back(std::make_shared<CQtTranslatableToolBar>(toolBar));
}

void SetUiLanguage(int index) {
  (void)index;
  Registered& r = Registry();
  DropDead(r.windows);
  DropDead(r.menus);
  DropDead(r.toolBars);
  for (auto& w : r.windows) w->PostMessage(0, 0, 0);
}
