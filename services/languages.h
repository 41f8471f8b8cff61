// The interface languages: the ".lng" files of the "Languages" data folder,
// the active one, every numbered string, and the translation of registered
// windows, menus and tool bars. A language file only overrides: whatever it
// lacks stays the built-in English (or the window's designed text).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "services/translation_targets.h"

class CLanguageFile;

// The escapes of a language file's values: the two-character sequences "\n",
// "\t" and "\r" stand for line feed, tab and carriage return.
std::string UnescapeLanguageText(std::string_view text);
std::string EscapeLanguageText(std::string_view text);

class CLanguages {
public:
  // Lists the language files of the folder "Languages" among the program's
  // data files, then selects "English" when it is there.
  CLanguages();
  // The same over a given folder (tests, other installations).
  explicit CLanguages(const std::string& folder);
  ~CLanguages();
  CLanguages(const CLanguages&) = delete;
  CLanguages& operator=(const CLanguages&) = delete;

  // The language folder, ending in "/"; empty when none was found.
  std::string Folder() const;
  // The names of the language files without ".lng", sorted by name so that a
  // stored index keeps its meaning from machine to machine.
  std::vector<std::string> List() const;
  int ActiveIndex() const;
  // The active language's name and file; empty until a language is set.
  std::string ActiveName() const;
  std::string ActiveFile() const;

  // -1 keeps the active index; an index outside the list is ignored. Reads
  // the active file (once, here) and translates every registered window,
  // menu and tool bar again. Nothing happens with an empty list.
  void SetLanguage(int index);
  // SetLanguage with the index of `name`; nothing when it is not listed.
  void SelectByName(const std::string& name);

  // The numbered string in the active language, else the built-in English;
  // "\n", "\t" and "\r" in a value are converted. Returns an owned copy, so
  // it is safe from any thread.
  std::string GetString(uint32_t number) const;
  // "TranslatorName" of section "LanguageInfo" of the active file.
  std::string TranslatorName() const;

  // Registration adds or replaces the entry and translates at once.
  void RegisterWindow(const std::string& section, std::shared_ptr<ITranslatableWindow> window);
  void RegisterMenu(const std::string& section, std::shared_ptr<ITranslatableMenu> menu);
  // The main menu (section "MainMenu"), held by its command bar.
  void RegisterMainMenu(std::shared_ptr<ITranslatableMenu> mainMenu);
  void RegisterToolBar(const std::string& section, std::shared_ptr<ITranslatableToolBar> toolBar);

  // Adds every name of the list and selects the active one; with an empty
  // list disables the choice and returns -1, else returns the active index.
  int FillLanguageList(ILanguageChoice& choice) const;

  // The start-up choice. `storedIndex` is the settings' LanguageIndex (-1
  // when none was stored yet). QUILLMORE_LANGUAGE, when it names a listed
  // language, is used for this run only; otherwise a stored index is used,
  // and at a first start the language of the desktop's locale (LANG,
  // LC_MESSAGES, LC_ALL), else "English". Returns the index to store.
  int StartUp(int storedIndex);

  // The language name a locale value stands for ("de_DE.UTF-8" gives
  // "Deutsch"); empty for locales without a known language.
  static std::string LanguageForLocale(const std::string& locale);

private:
  using FilePtr = std::shared_ptr<const CLanguageFile>;
  void ListFolder();
  int IndexOf(const std::string& name) const;
  FilePtr ActiveLanguageFile() const;
  void TranslateAll();
  void TranslateWindow(const CLanguageFile* file, const std::string& section, ITranslatableWindow& window);
  void TranslateMenu(const CLanguageFile* file, const std::string& section, ITranslatableMenu& menu);
  void TranslatePopup(const CLanguageFile* file, const std::string& section, ITranslatableMenu& popup, int depth);
  void TranslateToolBar(const CLanguageFile* file, const std::string& section, ITranslatableToolBar& toolBar);

  std::string folder_;
  std::vector<std::string> list_;  // fixed after construction

  // The active index and file, and the parsed file, replaced whole by
  // SetLanguage and read by any thread under the lock.
  mutable std::mutex mutex_;
  int active_ = 0;
  std::string activeFile_;
  FilePtr file_;

  std::map<std::string, std::shared_ptr<ITranslatableWindow>> windows_;
  std::map<std::string, std::shared_ptr<ITranslatableMenu>> menus_;
  std::map<std::string, std::shared_ptr<ITranslatableToolBar>> toolBars_;
};
