#include "ui/commands.h"

bool CommandAvailable(int id) {
  switch (id) {
    // Dialogs: recovery, try to open, sizes, information, filters, settings,
    // volume properties, drive images.
    case ID_RECOVER:
    case ID_TRY_OPEN:
    case ID_SET_NEW_SIZE:
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
    case ID_CREATE_IMAGE:
      return false;
    default:
      return true;
  }
}
