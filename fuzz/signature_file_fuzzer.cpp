// The packed signature-file import: a type read from the input, compiled
// into a matcher and tested on a sector; then packed again and read back.
#include <cstring>

#include "engine/scanner/file_signature_database.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  auto type = CFileSignatureDatabase::UnpackType(std::vector<uint8_t>(data, data + size));
  if (type) {
    uint8_t sector[512] = {};
    std::memcpy(sector, data + FILETYPE_PACKED_BYTES / 2, 512);
    CFileSignatureDatabase::MatchSector(*type, sector, 512);
    auto again = CFileSignatureDatabase::UnpackType(CFileSignatureDatabase::PackType(*type));
    if (!again || again->Signatures.size() != type->Signatures.size()) __builtin_trap();  // lost in a round trip
    CFileSignatureDatabase db;
    db.AddTypeForTest(std::move(*type));
    std::vector<const CFileType*> matches;
    db.MatchSector(sector, matches);
  }
  qmfuzz::EndInput();
  return 0;
}
