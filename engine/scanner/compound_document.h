// Recognisers that refine a signature match from the matched sector's own
// bytes: the compound-document directory walk (which office or design
// application wrote the file), and the size/start rules of the types 502,
// 503 and 504. The document's size comes from its FAT (CompoundDocumentEnd).
#pragma once

#include <cstdint>
#include <functional>

#include "engine/catalog/found_object.h"

// Type ids with a meaning to the recognisers.
constexpr int16_t TYPE_COMPOUND_DOCUMENT = 100;
constexpr int16_t TYPE_SIZE_AT_4_PLUS_2048 = 502;
constexpr int16_t TYPE_SIZE_AT_2 = 503;
constexpr int16_t TYPE_START_32K_BEFORE = 504;

// Reads `count` 512-byte sectors from sector `first` of the volume; returns
// the bytes read (0 on failure).
using SectorReader = std::function<uint32_t(void* buffer, uint64_t first, uint32_t count)>;

// The compound-document analysis of the sector at which the type-100
// signature matched (`sector` holds 512 bytes; `object.StartOffset` is its
// byte offset on the volume). Returns the recognised type id, or 100 (also
// for a header with an impossible sector shift). `volumeBytes` bounds the
// directory read (0: unbounded).
int16_t AnalyseCompoundDocument(CFoundObject& object, const uint8_t* sector, const SectorReader& read,
                                uint64_t volumeBytes = 0);

// The type a compound-document directory names (entries of 128 bytes),
// or 100; the first entry must be "Root Entry".
int16_t CompoundTypeFromDirectory(const uint8_t* directory, size_t bytes);

// The 502/503/504 corrections, applied in place; other types are untouched.
// False when the match cannot be a file of its type (a 504 match less than
// 32 KiB from the volume's start, whose file would begin before it).
bool ApplySectorRules(CFoundObject& object, const uint8_t* sector);
