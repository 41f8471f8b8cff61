// The commands of the wizards' explore pages that open the dialogs of the
// explorer view: Try to Open, Information and Filters on the page's
// selection. One seam, so the wizards and the main window share the dialogs.
#pragma once

class CVolumeExploreView;
class IUserPrompts;
class QWidget;

// Runs the command (ID_TRY_OPEN, ID_INFORMATION or ID_FILTERS) on the
// view's selection; a command whose dialog the program lacks does nothing.
void RunExploreCommand(int id, CVolumeExploreView& view, IUserPrompts& prompts, QWidget* parent);
