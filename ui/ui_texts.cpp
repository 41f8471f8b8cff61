#include "ui/ui_texts.h"

#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidget>

#include <memory>
#include <string>

#include "services/app.h"
#include "services/languages.h"
#include "services/strings.h"
#include "ui/qt_translation_targets.h"

QString UiString(uint32_t number, const char* fallback) {
  const std::string s = GetString(number);
  return s.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(s);
}

void RegisterView(const char* section, QWidget* view, int id, std::function<void()> languageChanged) {
  theApp().Languages.RegisterWindow(
      section, std::make_shared<CQtTranslatableWindow>(view, id, "CFormView", std::move(languageChanged)));
}

void RegisterFrame(const char* section, QWidget* frame, std::function<void()> languageChanged) {
  theApp().Languages.RegisterWindow(
      section, std::make_shared<CQtTranslatableWindow>(frame, 0, "CFrameWnd", std::move(languageChanged)));
}

void RegisterMenu(const char* section, QMenu* menu) {
  theApp().Languages.RegisterMenu(section, std::make_shared<CQtTranslatableContextMenu>(menu));
}

void RegisterMainMenu(QMenuBar* menuBar, std::vector<int> shownAt) {
  theApp().Languages.RegisterMainMenu(std::make_shared<CQtTranslatableMenu>(menuBar, std::move(shownAt)));
}

void RegisterToolBar(const char* section, QToolBar* toolBar) {
  theApp().Languages.RegisterToolBar(section, std::make_shared<CQtTranslatableToolBar>(toolBar));
}

void SetUiLanguage(int index) {
  CLanguages& languages = theApp().Languages;
  languages.SetLanguage(index);
  theApp().Settings.LanguageIndex = languages.ActiveIndex();
}
