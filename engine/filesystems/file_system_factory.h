// The parser for a file-system ID, or null when there is none for it.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/filesystems/file_system.h"

std::unique_ptr<CFileSystem> CreateFileSystemParser(uint32_t fileSystemId, CVolume* volume);
// Identity of the catalog's root folder for that parser (0, 2 or 5); -1 when none.
int64_t RootIdForFileSystem(uint32_t fileSystemId);
