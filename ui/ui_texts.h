// The texts of the desktop program's windows in the active language: the
// numbered strings, and the registration of views, menus and tool bars so
// that a language change retranslates them all at once.
#pragma once

#include <QString>

#include <cstdint>

#include <functional>
#include <vector>

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
  STR_STATE_QUERYING = 61010,
  STR_STATE_SCANNING = 61011,
  STR_STATE_ANALYSING = 61012,
  STR_STATE_NOT_READY = 61013,
  // The search bar's date choices (five), size choices (five, the first
  // being the date's "Don't remember" again) and size comparisons (three).
  STR_FIND_DATE_FIRST = 61020,
  STR_FIND_SIZE_FIRST = 61025,
  STR_FIND_COMPARISON_FIRST = 61029,
  STR_TIP_LOST_FILE = 61040,
  STR_DELETED = 176,
};

// Registers a view (a "CFormView": its controls with identifiers are
// translated) and translates it now; `languageChanged` runs after every
// translation so the view can rebuild the texts it makes itself.
void RegisterView(const char* section, QWidget* view, int id, std::function<void()> languageChanged);
// Registers a top-level window whose own controls are not translated (the
// main window: its views register themselves).
void RegisterFrame(const char* section, QWidget* frame, std::function<void()> languageChanged);
// A context menu: its items are keyed by command identifier.
void RegisterMenu(const char* section, QMenu* menu);
// `shownAt`: for each designed position of a pop-up title, where a layout
// shows it (empty: the designed order).
void RegisterMainMenu(QMenuBar* menuBar, std::vector<int> shownAt = {});
void RegisterToolBar(const char* section, QToolBar* toolBar);
// Makes `index` the active language and retranslates every registered
// window, menu and tool bar.
void SetUiLanguage(int index);
