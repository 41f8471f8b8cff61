#include "ui/commands.h"

bool CommandAvailable(int id) {
  // Every command of the menus has its dialog or window now.
  (void)id;
  return true;
}
