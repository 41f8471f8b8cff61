#include "ui/commands.h"

bool CommandAvailable(int id) {
  switch (id) {
    // Dialogs: recovery, try to open, sizes, information, filters, settings,
    // volume properties, drive images; and the wizards.
    case ID_RECOVER:
    case ID_TRY_OPEN:
    case ID_SET_NEW_SIZE:
    case ID_CREATE_IMAGE:
    case ID_MODE_WIZARD:
    case ID_MODE_WIZARD2:
      return false;
    default:
      return true;
  }
}
