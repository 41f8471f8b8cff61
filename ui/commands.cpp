#include "ui/commands.h"

bool CommandAvailable(int id) {
  switch (id) {
    // The wizards.
    case ID_MODE_WIZARD:
    case ID_MODE_WIZARD2:
      return false;
    default:
      return true;
  }
}
