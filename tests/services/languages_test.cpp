#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/messages.h"
#include "platform/registry_store.h"
#include "services/app.h"
#include "services/format.h"
#include "services/languages.h"
#include "services/strings.h"
#include "tests/support/test_support.h"

namespace {

// Plain objects standing for the front end's windows, menus and tool bars.
struct FakeWindow : ITranslatableWindow {
  FakeWindow(int id, std::string cls, std::string text) : id(id), cls(std::move(cls)), text(std::move(text)) {}
  bool IsAlive() const override { return alive; }
  int GetId() const override { return id; }
  std::string GetClassName() const override { return cls; }
  std::string GetText() const override { return text; }
  void SetText(const std::string& t) override { text = t; }
  void ForEachChild(const std::function<void(ITranslatableWindow&)>& visit) override {
    for (auto& child : children) visit(child);
  }
  ITranslatableMenu* GetMenuBar() override { return menuBar.get(); }
  void PostMessage(uint32_t message, uintptr_t, intptr_t) override { posted.push_back(message); }

  int id;
  std::string cls;
  std::string text;
  bool alive = true;
  std::vector<FakeWindow> children;
  std::shared_ptr<ITranslatableMenu> menuBar;
  std::vector<uint32_t> posted;
};

struct FakeMenu : ITranslatableMenu {
  struct Item {
    ItemKind kind;
    int id;
    std::string text;
    std::shared_ptr<FakeMenu> popup;
  };
  bool IsAlive() const override { return true; }
  int GetItemCount() const override { return static_cast<int>(items.size()); }
  ItemKind GetItemKind(int p) const override { return items[size_t(p)].kind; }
  int GetItemId(int p) const override { return items[size_t(p)].id; }
  std::string GetItemText(int p) const override { return items[size_t(p)].text; }
  void SetItemText(int p, const std::string& t) override { items[size_t(p)].text = t; }
  ITranslatableMenu* GetSubMenu(int p) override { return items[size_t(p)].popup.get(); }
  void Refresh() override { ++refreshed; }

  FakeMenu& Command(int id, std::string text) {
    items.push_back({ItemKind::Command, id, std::move(text), nullptr});
    return *this;
  }
  FakeMenu& Separator() {
    items.push_back({ItemKind::Separator, 0, "", nullptr});
    return *this;
  }
  FakeMenu& Popup(std::string text, std::shared_ptr<FakeMenu> popup) {
    items.push_back({ItemKind::Popup, -1, std::move(text), std::move(popup)});
    return *this;
  }
  std::vector<Item> items;
  int refreshed = 0;
};

struct FakeToolBar : ITranslatableToolBar {
  struct Button {
    int id;
    std::string text;
  };
  bool IsAlive() const override { return true; }
  int GetButtonCount() const override { return static_cast<int>(buttons.size()); }
  int GetButtonId(int b) const override { return buttons[size_t(b)].id; }
  std::string GetButtonText(int b) const override { return buttons[size_t(b)].text; }
  void SetButtonText(int b, const std::string& t) override { buttons[size_t(b)].text = t; }
  std::vector<Button> buttons;
};

struct FakeChoice : ILanguageChoice {
  void AddItem(const std::string& text) override { items.push_back(text); }
  void SetCurrentIndex(int index) override { current = index; }
  void SetEnabled(bool e) override { enabled = e; }
  std::vector<std::string> items;
  int current = -2;
  bool enabled = true;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Sets environment variables for one test and restores them after.
class ScopedEnv {
public:
  ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      if (value) ::setenv(name, value, 1);
      else ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A folder with an English file and a German one holding a dialog section,
// the main menu, a tool bar and a few strings.
std::string MakeFolder() {
  const std::string dir = qmtest::MakeTempDir("qm-languages");
  WriteText(dir + "/English.lng", "[LanguageInfo]\nTranslatorName=\n");
  WriteText(dir + "/Deutsch.lng",
            "[LanguageInfo]\nTranslatorName=Jemand\n"
            "[StringsTable]\n"
            "182=Keine Dateien gefunden\n"
            "163=Zwei\\nZeilen\\tmit Tab\n"
            "136=Analyse abgeschlossen. %d Ordner und %d Datei(en) gefunden.\n"
            "[RecoverDialog]\n0=Wiederherstellen\n1001=Zielordner:\n-1=never\n65535=never\n"
            "[RecoverDialog.menu]\n0=&Datei\n"
            "[MainMenu]\n0=&Laufwerk\n1=&Ansicht\n32774=Analyse starten\n59392=&Symbolleiste\n"
            "[MainToolBar]\n32774=Start\n");
  WriteText(dir + "/notes.txt", "not a language");
  return dir;
}

std::shared_ptr<FakeWindow> MakeDialog() {
  auto dialog = std::make_shared<FakeWindow>(0, "CDialog", "Recover");
  dialog->children.emplace_back(1001, "Static", "Destination folder:");
  dialog->children.emplace_back(-1, "Static", "designed label");
  dialog->children.emplace_back(65535, "Static", "designed label 2");
  dialog->children.emplace_back(182, "Static", "");  // an identifier that is also a string number
  dialog->children.emplace_back(1002, "Button", "Browse...");
  return dialog;
}

std::shared_ptr<FakeMenu> MakeMainMenu() {
  auto disk = std::make_shared<FakeMenu>();
  auto images = std::make_shared<FakeMenu>();
  images->Command(32782, "Create Drive Image...");
  disk->Command(32774, "Start Analyzing").Separator().Popup("Images", images).Command(57665, "&Exit");
  auto view = std::make_shared<FakeMenu>();
  view->Command(59392, "&Tool bar");
  auto menu = std::make_shared<FakeMenu>();
  menu->Popup("&Disk", disk).Popup("&View", view);
  return menu;
}

}  // namespace

TEST(Languages, ListIsSortedAndFirstStartPicksTheLocaleElseEnglishAndStoresIt) {
  const std::string dir = MakeFolder();
  WriteText(dir + "/Aardvark.lng", "");
  {
    ScopedEnv env({{"QUILLMORE_LANGUAGE", nullptr}, {"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", "C"}});
    CLanguages languages(dir);
    EXPECT_EQ(languages.List(), (std::vector<std::string>{"Aardvark", "Deutsch", "English"}));
    EXPECT_EQ(languages.ActiveName(), "English");  // selected at construction
    EXPECT_EQ(languages.StartUp(-1), 2);
    EXPECT_EQ(languages.ActiveName(), "English");
    EXPECT_EQ(languages.ActiveFile(), languages.Folder() + "English.lng");
    // A stored index is used as it is.
    EXPECT_EQ(languages.StartUp(1), 1);
    EXPECT_EQ(languages.ActiveName(), "Deutsch");
    // One out of the list keeps the active language.
    EXPECT_EQ(languages.StartUp(7), 1);
  }
  {
    ScopedEnv env({{"QUILLMORE_LANGUAGE", nullptr}, {"LC_ALL", nullptr}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "en_US.UTF-8"}});
    CLanguages languages(dir);
    EXPECT_EQ(languages.StartUp(-1), 1);
    EXPECT_EQ(languages.GetString(182), "Keine Dateien gefunden");
  }
  {
    // A language for one run leaves the stored choice as it was.
    ScopedEnv env({{"QUILLMORE_LANGUAGE", "Deutsch"}, {"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", "C"}});
    CLanguages languages(dir);
    EXPECT_EQ(languages.StartUp(-1), -1);
    EXPECT_EQ(languages.ActiveName(), "Deutsch");
    EXPECT_EQ(languages.StartUp(2), 2);
    EXPECT_EQ(languages.ActiveName(), "Deutsch");
  }
  {
    // Without an English file and with a locale that has none either, no
    // file becomes active: the built-in English stays.
    const std::string only = qmtest::MakeTempDir("qm-languages-one");
    WriteText(only + "/Deutsch.lng", "[StringsTable]\n182=Keine Dateien gefunden\n");
    ScopedEnv env({{"QUILLMORE_LANGUAGE", nullptr}, {"LC_ALL", "fr_FR.UTF-8"}, {"LANG", nullptr}});
    CLanguages languages(only);
    EXPECT_EQ(languages.StartUp(-1), -1);
    EXPECT_EQ(languages.ActiveName(), "");
    EXPECT_EQ(languages.GetString(182), "No files found");
  }
  EXPECT_EQ(CLanguages::LanguageForLocale("de_AT.UTF-8@euro"), "Deutsch");
  EXPECT_EQ(CLanguages::LanguageForLocale("de"), "Deutsch");
  EXPECT_EQ(CLanguages::LanguageForLocale("C.UTF-8"), "");
  EXPECT_EQ(CLanguages::LanguageForLocale(""), "");
}

TEST(Languages, WithoutFilesEveryTextIsBuiltInAndTheChoiceIsDisabled) {
  CLanguages none(qmtest::MakeTempDir("qm-languages-empty"));
  CLanguages missing("/nonexistent/Languages");
  for (CLanguages* languages : {&none, &missing}) {
    EXPECT_TRUE(languages->List().empty());
    languages->SetLanguage(0);
    EXPECT_EQ(languages->ActiveFile(), "");
    EXPECT_EQ(languages->GetString(182), "No files found");
    EXPECT_EQ(languages->GetString(999999), "");
    FakeChoice choice;
    EXPECT_EQ(languages->FillLanguageList(choice), -1);
    EXPECT_FALSE(choice.enabled);
    EXPECT_TRUE(choice.items.empty());
  }
  CLanguages some(MakeFolder());
  FakeChoice choice;
  EXPECT_EQ(some.FillLanguageList(choice), 1);
  EXPECT_EQ(choice.items, (std::vector<std::string>{"Deutsch", "English"}));
  EXPECT_EQ(choice.current, 1);
}

TEST(Languages, StringsComeFromTheActiveFileWithEscapesElseBuiltIn) {
  CLanguages languages(MakeFolder());
  languages.SelectByName("Deutsch");
  EXPECT_EQ(languages.ActiveIndex(), 0);
  EXPECT_EQ(languages.GetString(163), "Zwei\nZeilen\tmit Tab");
  EXPECT_EQ(languages.GetString(57118), "Folder");  // not in the file
  EXPECT_EQ(languages.TranslatorName(), "Jemand");
  EXPECT_EQ(qm::Format(languages.GetString(136), 3, 4), "Analyse abgeschlossen. 3 Ordner und 4 Datei(en) gefunden.");
  languages.SelectByName("Klingon");  // not listed: nothing changes
  EXPECT_EQ(languages.ActiveName(), "Deutsch");
  languages.SelectByName("English");
  EXPECT_EQ(languages.GetString(163), "Search");
  EXPECT_EQ(languages.TranslatorName(), "");
}

TEST(Languages, TheFileIsReadWhenTheLanguageIsSetNotAtEveryLookUp) {
  const std::string dir = MakeFolder();
  CLanguages languages(dir);
  languages.SelectByName("Deutsch");
  WriteText(dir + "/Deutsch.lng", "[StringsTable]\n182=Nichts gefunden\n");
  EXPECT_EQ(languages.GetString(182), "Keine Dateien gefunden");
  languages.SetLanguage(-1);
  EXPECT_EQ(languages.GetString(182), "Nichts gefunden");
  ::unlink((dir + "/Deutsch.lng").c_str());
  languages.SetLanguage(-1);  // the file went away: built-in texts
  EXPECT_EQ(languages.GetString(182), "No files found");
}

TEST(Languages, HostileFileGivesSaneTextsAndNeverBadFormats) {
  const std::string dir = qmtest::MakeTempDir("qm-languages-hostile");
  std::string text = "\xEF\xBB\xBF[StringsTable]\n";
  text += "135=%s%s%s%n%d%d%d\n";                                  // wrong directives
  text += "136=Nur %d\n";                                         // too few
  text += "134=" + std::string(100000, 'A') + "%s\n";            // huge, directive cut off
  text += "4355=%I64d %d\n";                                       // too many
  text += "182=" + std::string(5000, 'B') + "\n";                // huge, no directive
  text += "garbage\n[\n==\n5200=\n163=100%% sicher\n";  // an empty value; a literal percent
  WriteText(dir + "/Evil.lng", text);
  CLanguages languages(dir);
  languages.SelectByName("Evil");
  EXPECT_EQ(languages.GetString(135), "Analysis duration: %d minute(s), %d second(s).");
  EXPECT_EQ(languages.GetString(136), "Analysis completed. Found %d folder(s) and %d file(s).");
  EXPECT_EQ(languages.GetString(134), "Found file: %s");
  EXPECT_EQ(languages.GetString(4355), "lost_file_%I64d");
  EXPECT_EQ(languages.GetString(182), std::string(4096, 'B'));
  EXPECT_EQ(languages.GetString(5200), "Lost files");  // an empty value overrides nothing
  EXPECT_EQ(qm::Format(languages.GetString(163)), "100% sicher");
}

TEST(Languages, WindowsAreTranslatedByIdentifierAndSkipTheStaticOnes) {
  CLanguages languages(MakeFolder());
  languages.SelectByName("Deutsch");
  auto dialog = MakeDialog();
  dialog->menuBar = std::make_shared<FakeMenu>();
  static_cast<FakeMenu&>(*dialog->menuBar).Popup("&File", std::make_shared<FakeMenu>());
  languages.RegisterWindow("RecoverDialog", dialog);
  EXPECT_EQ(dialog->text, "Wiederherstellen");
  EXPECT_EQ(dialog->children[0].text, "Zielordner:");
  EXPECT_EQ(dialog->children[1].text, "designed label");
  EXPECT_EQ(dialog->children[2].text, "designed label 2");
  // No key in the file: the built-in string of that number.
  EXPECT_EQ(dialog->children[3].text, "No files found");
  EXPECT_EQ(dialog->children[4].text, "Browse...");
  EXPECT_EQ(static_cast<FakeMenu&>(*dialog->menuBar).items[0].text, "&Datei");
  EXPECT_EQ(dialog->posted, std::vector<uint32_t>{WM_LANGUAGE_CHANGED});

  // A window without a section stays as designed, apart from identifiers
  // that are string numbers; a window that is no dialog keeps its children.
  auto other = MakeDialog();
  languages.RegisterWindow("NoSuchSection", other);
  EXPECT_EQ(other->text, "Recover");
  EXPECT_EQ(other->children[0].text, "Destination folder:");
  EXPECT_EQ(other->children[3].text, "No files found");
  auto frame = std::make_shared<FakeWindow>(0, "CMainFrame", "Professional Quillmore");
  frame->children.emplace_back(182, "Static", "kept");
  languages.RegisterWindow("RecoverDialog", frame);  // replaces the dialog's entry
  EXPECT_EQ(frame->text, "Wiederherstellen");
  EXPECT_EQ(frame->children[0].text, "kept");
}

TEST(Languages, MenusAndToolBarsByPositionAndCommand) {
  CLanguages languages(MakeFolder());
  languages.SelectByName("Deutsch");
  auto menu = MakeMainMenu();
  languages.RegisterMainMenu(menu);
  EXPECT_EQ(menu->items[0].text, "&Laufwerk");
  EXPECT_EQ(menu->items[1].text, "&Ansicht");
  const FakeMenu& disk = *menu->items[0].popup;
  EXPECT_EQ(disk.items[0].text, "Analyse starten");
  EXPECT_EQ(disk.items[2].text, "Images");  // a nested pop-up's title has no key
  EXPECT_EQ(disk.items[2].popup->items[0].text, "Create Drive Image...");
  EXPECT_EQ(disk.items[3].text, "&Exit");
  EXPECT_EQ(menu->items[1].popup->items[0].text, "&Symbolleiste");
  EXPECT_EQ(menu->refreshed, 2);  // after each top-level item

  auto toolBar = std::make_shared<FakeToolBar>();
  toolBar->buttons = {{32774, "Start Analyzing"}, {0, ""}, {32775, "Stop Analyzing"}, {32787, ""}};
  languages.RegisterToolBar("MainToolBar", toolBar);
  EXPECT_EQ(toolBar->buttons[0].text, "Start");
  EXPECT_EQ(toolBar->buttons[2].text, "Stop Analyzing");
  EXPECT_EQ(toolBar->buttons[3].text, "");
}

TEST(Languages, ChangingTheLanguageRetranslatesEverythingRegisteredAtOnce) {
  const std::string dir = MakeFolder();
  WriteText(dir + "/Francais.lng",
            "[RecoverDialog]\n0=Récupérer\n1001=Dossier cible :\n[MainMenu]\n0=&Disque\n32774=Démarrer l'analyse\n");
  CLanguages languages(dir);
  languages.SelectByName("Deutsch");
  auto dialog = MakeDialog();
  auto menu = MakeMainMenu();
  languages.RegisterWindow("RecoverDialog", dialog);
  languages.RegisterMainMenu(menu);
  auto closed = MakeDialog();
  languages.RegisterWindow("ClosedDialog", closed);
  closed->alive = false;

  languages.SelectByName("Francais");
  EXPECT_EQ(dialog->text, "Récupérer");
  EXPECT_EQ(dialog->children[0].text, "Dossier cible :");
  EXPECT_EQ(menu->items[0].text, "&Disque");
  EXPECT_EQ(menu->items[0].popup->items[0].text, "Démarrer l'analyse");
  // What the new file lacks keeps the text it had.
  EXPECT_EQ(menu->items[1].text, "&Ansicht");
  EXPECT_EQ(dialog->posted.size(), 2u);
  EXPECT_EQ(closed->posted.size(), 1u);  // dropped, never touched again
}

// A front end may report the designed text of an item rather than what it
// shows now (so that a key missing from one language restores the English):
// the way back to such a language must still set every text.
TEST(Languages, SwitchingBackRestoresTextsEvenWhenTheFrontEndReportsDesignedTexts) {
  struct DesignedTextMenu : FakeMenu {
    std::string GetItemText(int p) const override { return designed.at(size_t(p)); }
    std::vector<std::string> designed;
  };
  struct DesignedTextToolBar : FakeToolBar {
    std::string GetButtonText(int) const override { return "Start Analyzing"; }
  };
  CLanguages languages(MakeFolder());
  auto disk = std::make_shared<DesignedTextMenu>();
  disk->Command(32774, "Start Analyzing");
  disk->designed = {"Start Analyzing"};
  auto menu = std::make_shared<DesignedTextMenu>();
  menu->Popup("&Disk", disk);
  menu->designed = {"&Disk"};
  auto toolBar = std::make_shared<DesignedTextToolBar>();
  toolBar->buttons = {{32774, "Start Analyzing"}};
  languages.RegisterMainMenu(menu);
  languages.RegisterToolBar("MainToolBar", toolBar);
  languages.SelectByName("Deutsch");
  EXPECT_EQ(menu->items[0].text, "&Laufwerk");
  EXPECT_EQ(disk->items[0].text, "Analyse starten");
  EXPECT_EQ(toolBar->buttons[0].text, "Start");
  languages.SelectByName("English");
  EXPECT_EQ(menu->items[0].text, "&Disk");
  EXPECT_EQ(disk->items[0].text, "Start Analyzing");
  EXPECT_EQ(toolBar->buttons[0].text, "Start Analyzing");
}

TEST(Languages, ConcurrentLookUpsWhileTheLanguageChanges) {
  CLanguages languages(MakeFolder());
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop) {
        const std::string s = languages.GetString(182);
        if (s != "No files found" && s != "Keine Dateien gefunden") ++bad;
        if (qm::Format(languages.GetString(136), 1, 2).find('1') == std::string::npos) ++bad;
      }
    });
  for (int i = 0; i < 200; ++i) languages.SetLanguage(i % 2);
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(Languages, FirstStartStoresTheChosenIndexWithTheSettings) {
  ScopedEnv env({{"QUILLMORE_LANGUAGE", nullptr}, {"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", "C"}});
  const std::string path = qmtest::MakeTempDir("qm-languages-app") + "/registry";
  CRegistryStore store(path);
  CApp app;  // lists the shipped files: Deutsch, English
  app.SetRegistry(&store);
  app.LoadSettings();
  EXPECT_EQ(app.Settings.LanguageIndex, -1);
  app.LoadLanguage();
  EXPECT_EQ(app.Settings.LanguageIndex, 1);
  EXPECT_EQ(app.Languages.ActiveName(), "English");

  // The next start finds it stored and keeps it, whatever the locale says.
  ::setenv("LANG", "de_DE.UTF-8", 1);
  CRegistryStore reread(path);
  reread.Load();
  CApp next;
  next.SetRegistry(&reread);
  next.LoadSettings();
  EXPECT_EQ(next.Settings.LanguageIndex, 1);
  next.LoadLanguage();
  EXPECT_EQ(next.Languages.ActiveName(), "English");
}
