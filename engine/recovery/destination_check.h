// Whether files can be written into a destination folder at all, asked once
// before a recovery starts rather than learnt file by file.
#pragma once

#include <string>

// Creates the folder (and the folders above it) when missing and proves it
// can take a new file by creating one that is never linked into it (or,
// where the file system cannot do that, by creating and removing a probe).
// Returns an empty text when files can be written, else why not, as
// "'/x/y' is a file, not a folder" or "cannot write in '/x': Permission
// denied".
std::string DestinationProblem(const std::string& folder);
