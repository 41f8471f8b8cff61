#include "ui/explore_commands.h"

#include "ui/commands.h"

void RunExploreCommand(int id, CVolumeExploreView& view, IUserPrompts& prompts, QWidget* parent) {
  (void)view;
  (void)prompts;
  (void)parent;
  if (!CommandAvailable(id)) return;
  switch (id) {
    case ID_TRY_OPEN:
    case ID_INFORMATION:
    case ID_FILTERS:
    default: break;
  }
}
