#include "ui/commands.h"

bool CommandAvailable(int id) {
  switch (id) {
    // Dialogs: recovery, try to open, sizes, information, filters, settings,
    // volume properties, drive images; and the wizards.
    case ID_INFORMATION:
    case ID_FILTERS:
    case ID_SETTINGS:
    case ID_SETTINGS_COMMON:
    case ID_SETTINGS_CONFIRMATIONS:
    case ID_SETTINGS_TEMP_FOLDER:
    case ID_SETTINGS_DRIVE_ACCESS:
    case ID_SETTINGS_LANGUAGE:
    case ID_SETTINGS_LOGGING:
    case ID_SETTINGS_FILE_TYPES:
    case ID_DRIVE_PROPERTIES:
    case ID_MODE_WIZARD:
    case ID_MODE_WIZARD2:
      return false;
    default:
      return true;
  }
}
