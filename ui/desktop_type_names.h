// File-type names and icons as the desktop names them: the engine's
// type-name hook answered from the MIME database, and icons for the views.
#pragma once

#include <QIcon>
#include <QString>

#include <string>

struct CFoundObject;

// Installs the MIME-database provider as the engine's type-name hook.
void InstallDesktopTypeNames();
// The desktop's name of a file extension ("JPEG image"); empty when the
// database does not know it (the engine then says "EXT File"). Cached per
// extension; callable from any thread.
std::string DesktopTypeName(const std::string& extension);
// The icon of an object in the views: a folder, or the icon of its type.
QIcon ObjectIcon(const CFoundObject& object);
