// The texts of the desktop program's windows in the active language: the
// numbered strings, and the registration of views, menus and tool bars so
// that a language change retranslates them all at once.
#pragma once

#include <QString>

#include <cstdint>

#include <functional>

class QMenu;
class QMenuBar;
class QToolBar;
class QWidget;

// Section names of the main window's views in the language files.
inline constexpr const char* kSectionDrives = "MyComputerView";
inline constexpr const char* kSectionDrivesMenu = "MyComputerView.menu";
inline constexpr const char* kSectionFolders = "FilesTreeView";
inline constexpr const char* kSectionFiles = "FilesListView";
inline constexpr const char* kSectionLegend = "LegendView";
inline constexpr const char* kSectionDataViewer = "HexViewer";
inline constexpr const char* kSectionFindBar = "FindBar";
inline constexpr const char* kSectionMainFrame = "MainFrame";
inline constexpr const char* kSectionToolBar = "MainToolBar";

// The numbered string in the active language; `fallback` when there is none.
QString UiString(uint32_t number, const char* fallback);

// Numbered strings of the views' own texts (column titles, pane titles)
// beyond the design's numbered strings.
enum UiStringNumber : uint32_t {
  STR_COLUMN_NAME = 164,
  STR_COLUMN_SIZE = 165,
  STR_COLUMN_TYPE = 166,
  STR_COLUMN_DATE = 167,
  STR_COLUMN_FOLDER = 168,
  STR_DRIVES_STATE = 61001,
  STR_DRIVES_FILE_SYSTEM = 61002,
  STR_PANE_LEGEND = 61007,
  STR_PANE_DATA_VIEWER = 61008,
};

// Registers a view (a "CFormView": its controls with identifiers are
// translated) and translates it now; `languageChanged` runs after every
// translation so the view can rebuild the texts it makes itself.
void RegisterView(const char* section, QWidget* view, int id, std::function<void()> languageChanged);
// Registers a top-level window whose own controls are not translated (the
// main window: its views register themselves).
void RegisterFrame(const char* section, QWidget* frame, std::function<void()> languageChanged);
void RegisterMenu(const char* section, QMenu* menu);
void RegisterMainMenu(QMenuBar* menuBar);
void RegisterToolBar(const char* section, QToolBar* toolBar);
// Makes `index` the active language and retranslates every registered
// window, menu and tool bar.
void SetUiLanguage(int index);
