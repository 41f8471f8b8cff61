// What every subcommand of quillmore-cli starts with: the program's start-up
// (settings, drive-list owner, signature database) and the source volume.
#pragma once

#include <string>

class CVolume;

// Loads the settings record from the user's registry store and creates the
// drive-list owner (and with it the log). Call once, before anything else.
void CliStartup();

// Opens SOURCE (an image file or a block device such as /dev/sdb1) as a
// volume of the drive list. Null with a one-line reason in *error when it is
// missing or cannot be read.
CVolume* OpenSourceVolume(const std::string& path, std::string* error);

// CliStartup, then OpenSourceVolume; on failure prints "quillmore-cli: <why>"
// on standard error and returns null (the caller exits with EXIT_FAILED).
CVolume* StartAndOpenSource(const std::string& path);
