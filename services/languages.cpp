#include "services/languages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "platform/messages.h"
#include "platform/system.h"
#include "services/format.h"
#include "services/ini_file.h"
#include "services/strings.h"
#include "services/text.h"

namespace {

constexpr const char* kStringsSection = "StringsTable";
constexpr const char* kExtension = ".lng";
// Pop-ups nested deeper than this are left alone (a menu is data from the
// front end, and a cycle must not recurse for ever).
constexpr int kMaxMenuDepth = 16;

bool TranslatesChildren(const std::string& windowClass) {
  return windowClass == "CDialog" || windowClass == "CFormView" || windowClass == "#32770";
}

std::string BuiltInOrEmpty(int number) {
  const char* text = number >= 0 ? FindBuiltInString(static_cast<uint32_t>(number)) : nullptr;
  return text ? text : "";
}

}  // namespace

// One parsed language file: its sections, and its strings table with the
// escapes converted.
class CLanguageFile {
public:
  explicit CLanguageFile(CIniFile ini) : ini_(std::move(ini)) {
    for (const auto& [key, value] : ini_.Entries(kStringsSection)) {
      // Only plain decimal numbers are string numbers.
      if (key.empty() || key.size() > 10 || key.find_first_not_of("0123456789") != std::string::npos) continue;
      const uint64_t number = std::stoull(key);
      if (number > UINT32_MAX || value.empty()) continue;
      std::string text = UnescapeLanguageText(value);
      // A translated format must take the arguments of the original: one
      // that does not is not used, and the English text stays.
      if (const char* english = FindBuiltInString(static_cast<uint32_t>(number));
          english && qm::FormatDirectives(text) != qm::FormatDirectives(english))
        continue;
      strings_.emplace(static_cast<uint32_t>(number), std::move(text));
    }
  }

  const std::string* String(uint32_t number) const {
    auto it = strings_.find(number);
    return it == strings_.end() ? nullptr : &it->second;
  }
  // The value of the key, escapes converted; empty when missing.
  std::string Value(const std::string& section, const std::string& key) const {
    auto value = ini_.Get(section, key);
    return value ? UnescapeLanguageText(*value) : std::string();
  }

private:
  CIniFile ini_;
  std::unordered_map<uint32_t, std::string> strings_;
};

namespace {

// The value of `key` in `section` of the file, else `fallback`. An empty
// value counts as missing: a language file only overrides.
std::string Lookup(const CLanguageFile* file, const std::string& section, const std::string& key,
                   const std::string& fallback) {
  std::string value = file ? file->Value(section, key) : std::string();
  return value.empty() ? fallback : value;
}

template <class Map>
void DropDestroyed(Map& map) {
  std::erase_if(map, [](const auto& entry) { return !entry.second || !entry.second->IsAlive(); });
}

}  // namespace

std::string UnescapeLanguageText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[i + 1];
      if (next == 'n' || next == 't' || next == 'r') {
        out.push_back(next == 'n' ? '\n' : next == 't' ? '\t' : '\r');
        ++i;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string EscapeLanguageText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else out.push_back(c);
  }
  return out;
}

CLanguages::CLanguages() : CLanguages(qm::FindDataPath("Languages")) {}

CLanguages::CLanguages(const std::string& folder) : folder_(folder) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
  ListFolder();
  SelectByName("English");
}

CLanguages::~CLanguages() = default;

void CLanguages::ListFolder() {
  if (folder_.empty()) return;
  DIR* dir = ::opendir(folder_.c_str());
  if (!dir) return;
  const std::string extension = kExtension;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= extension.size() ||
        !qm::AsciiEqualNoCase(std::string_view(name).substr(name.size() - extension.size()), extension))
      continue;
    struct stat st {};
    if (::stat((folder_ + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    list_.push_back(name.substr(0, name.size() - extension.size()));
  }
  ::closedir(dir);
  // The file system's order differs between machines; a stored index must
  // name the same language everywhere.
  std::sort(list_.begin(), list_.end());
}

std::string CLanguages::Folder() const { return folder_; }

std::vector<std::string> CLanguages::List() const { return list_; }

int CLanguages::ActiveIndex() const {
  std::lock_guard lock(mutex_);
  return active_;
}

std::string CLanguages::ActiveName() const {
  std::lock_guard lock(mutex_);
  return activeFile_.empty() ? std::string() : list_[static_cast<size_t>(active_)];
}

std::string CLanguages::ActiveFile() const {
  std::lock_guard lock(mutex_);
  return activeFile_;
}

int CLanguages::IndexOf(const std::string& name) const {
  auto it = std::find(list_.begin(), list_.end(), name);
  return it == list_.end() ? -1 : static_cast<int>(it - list_.begin());
}

CLanguages::FilePtr CLanguages::ActiveLanguageFile() const {
  std::lock_guard lock(mutex_);
  return file_;
}

void CLanguages::SetLanguage(int index) {
  if (list_.empty()) return;
  std::string path;
  {
    std::lock_guard lock(mutex_);
    if (index >= 0 && static_cast<size_t>(index) < list_.size()) active_ = index;
    path = folder_ + list_[static_cast<size_t>(active_)] + kExtension;
  }
  // The file is read here, once, and not at every look-up: a file changed
  // while the program runs is read again at the next language change.
  FilePtr file;
  if (auto ini = CIniFile::Load(path)) file = std::make_shared<const CLanguageFile>(std::move(*ini));
  {
    std::lock_guard lock(mutex_);
    activeFile_ = path;
    file_ = std::move(file);
  }
  TranslateAll();
}

void CLanguages::SelectByName(const std::string& name) {
  const int index = IndexOf(name);
  if (index >= 0) SetLanguage(index);
}

std::string CLanguages::GetString(uint32_t number) const {
  const FilePtr file = ActiveLanguageFile();
  if (file)
    if (const std::string* text = file->String(number)) return *text;
  const char* english = FindBuiltInString(number);
  return english ? english : "";
}

std::string CLanguages::TranslatorName() const {
  const FilePtr file = ActiveLanguageFile();
  return file ? file->Value("LanguageInfo", "TranslatorName") : std::string();
}

void CLanguages::TranslateAll() {
  DropDestroyed(windows_);
  DropDestroyed(menus_);
  DropDestroyed(toolBars_);
  const FilePtr file = ActiveLanguageFile();
  for (auto& [section, window] : windows_) TranslateWindow(file.get(), section, *window);
  for (auto& [section, menu] : menus_) TranslateMenu(file.get(), section, *menu);
  for (auto& [section, toolBar] : toolBars_) TranslateToolBar(file.get(), section, *toolBar);
}

void CLanguages::TranslateWindow(const CLanguageFile* file, const std::string& section,
                                 ITranslatableWindow& window) {
  if (ITranslatableMenu* menuBar = window.GetMenuBar()) TranslateMenu(file, section + ".menu", *menuBar);
  const std::string title = Lookup(file, section, "0", BuiltInOrEmpty(0));
  if (!title.empty()) window.SetText(title);
  if (TranslatesChildren(window.GetClassName())) {
    window.ForEachChild([&](ITranslatableWindow& child) {
      const int id = child.GetId();
      if (id == 0 || id == 65535 || id == -1) return;  // static texts keep their designed text
      // Without a key the control keeps its text: a control of a page that
      // registers under its own section is translated there.
      const std::string text = Lookup(file, section, std::to_string(id), BuiltInOrEmpty(id));
      if (!text.empty()) child.SetText(text);
    });
  }
  window.PostMessage(WM_LANGUAGE_CHANGED, 0, 0);
}

void CLanguages::TranslateMenu(const CLanguageFile* file, const std::string& section, ITranslatableMenu& menu) {
  const int count = menu.GetItemCount();
  for (int p = 0; p < count; ++p) {
    // Set even when equal to the designed text a front end reports: the item
    // may still show the previous language's.
    const std::string text = Lookup(file, section, std::to_string(p), menu.GetItemText(p));
    if (!text.empty()) menu.SetItemText(p, text);
    if (ITranslatableMenu* popup = menu.GetSubMenu(p)) TranslatePopup(file, section, *popup, 1);
    menu.Refresh();
  }
}

void CLanguages::TranslatePopup(const CLanguageFile* file, const std::string& section, ITranslatableMenu& popup,
                                int depth) {
  if (depth > kMaxMenuDepth) return;
  const int count = popup.GetItemCount();
  for (int p = 0; p < count; ++p) {
    switch (popup.GetItemKind(p)) {
      case ITranslatableMenu::ItemKind::Separator:
        break;
      case ITranslatableMenu::ItemKind::Popup:
        // A nested pop-up's own title has no key; its items do.
        if (ITranslatableMenu* nested = popup.GetSubMenu(p)) TranslatePopup(file, section, *nested, depth + 1);
        break;
      case ITranslatableMenu::ItemKind::Command: {
        const int id = popup.GetItemId(p);
        if (id == 0) break;
        const std::string text = Lookup(file, section, std::to_string(id), popup.GetItemText(p));
        if (!text.empty()) popup.SetItemText(p, text);
        break;
      }
    }
  }
}

void CLanguages::TranslateToolBar(const CLanguageFile* file, const std::string& section,
                                  ITranslatableToolBar& toolBar) {
  const int count = toolBar.GetButtonCount();
  for (int b = 0; b < count; ++b) {
    const int id = toolBar.GetButtonId(b);
    if (id == 0) continue;
    const std::string current = toolBar.GetButtonText(b);
    if (current.empty()) continue;
    toolBar.SetButtonText(b, Lookup(file, section, std::to_string(id), current));
  }
}

void CLanguages::RegisterWindow(const std::string& section, std::shared_ptr<ITranslatableWindow> window) {
  if (!window || !window->IsAlive()) return;
  windows_[section] = window;
  TranslateWindow(ActiveLanguageFile().get(), section, *window);
}

void CLanguages::RegisterMenu(const std::string& section, std::shared_ptr<ITranslatableMenu> menu) {
  if (!menu || !menu->IsAlive()) return;
  menus_[section] = menu;
  TranslateMenu(ActiveLanguageFile().get(), section, *menu);
}

void CLanguages::RegisterMainMenu(std::shared_ptr<ITranslatableMenu> mainMenu) {
  RegisterMenu("MainMenu", std::move(mainMenu));
}

void CLanguages::RegisterToolBar(const std::string& section, std::shared_ptr<ITranslatableToolBar> toolBar) {
  if (!toolBar || !toolBar->IsAlive()) return;
  toolBars_[section] = toolBar;
  TranslateToolBar(ActiveLanguageFile().get(), section, *toolBar);
}

int CLanguages::FillLanguageList(ILanguageChoice& choice) const {
  if (list_.empty()) {
    choice.SetEnabled(false);
    return -1;
  }
  for (const auto& name : list_) choice.AddItem(name);
  const int active = ActiveIndex();
  choice.SetCurrentIndex(active);
  return active;
}

std::string CLanguages::LanguageForLocale(const std::string& locale) {
  // "de_DE.UTF-8@euro" -> "de".
  const std::string code = qm::AsciiLower(locale.substr(0, locale.find_first_of("_.@")));
  static const std::unordered_map<std::string, std::string> names = {
      {"de", "Deutsch"},  {"en", "English"},   {"fr", "Français"}, {"es", "Español"},
      {"it", "Italiano"}, {"nl", "Nederlands"}, {"pt", "Português"}, {"pl", "Polski"},
  };
  auto it = names.find(code);
  return it == names.end() ? std::string() : it->second;
}

int CLanguages::StartUp(int storedIndex) {
  if (list_.empty()) return storedIndex;
  // A language for this run only: the stored choice stays as it was.
  if (const char* once = std::getenv("QUILLMORE_LANGUAGE"); once && IndexOf(once) >= 0) {
    SelectByName(once);
    return storedIndex;
  }
  if (storedIndex < 0) {
    // First start: the desktop's language where a file for it exists, else
    // English; without either, the built-in English with no file active.
    std::string locale;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value && *value) {
        locale = value;
        break;
      }
    }
    int index = IndexOf(LanguageForLocale(locale));
    if (index < 0) index = IndexOf("English");
    if (index < 0) return storedIndex;
    SetLanguage(index);
    return index;
  }
  SetLanguage(storedIndex);
  return ActiveIndex();
}
