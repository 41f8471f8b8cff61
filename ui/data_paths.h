// Where the desktop program finds its data files: the build copies data/
// beside the binaries; an installed program keeps them in
// ../share/quillmore/ relative to its executable.
#pragma once

#include <QString>

// The data folder without a trailing "/" (its "help", "media" and
// "Languages" folders and the signature database).
QString DataFolder();
// A file below the data folder ("help/index.html").
QString DataFile(const QString& relative);
