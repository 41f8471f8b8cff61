// The signature text compiler: the first line is a signature's registry
// text; what it compiles to is tested on the rest of the input as a sector
// and must agree with the compiled matcher.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/scanner/file_signature_database.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  const auto* end = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
  const size_t textBytes = end ? static_cast<size_t>(end - data) : size;
  const std::string text(reinterpret_cast<const char*>(data), textBytes);
  auto signature = CompileSignatureText(text);
  if (signature) {
    uint8_t sector[512] = {};
    const size_t rest = size - std::min(size, textBytes + 1);
    std::memcpy(sector, data + (size - rest), std::min<size_t>(rest, 512));
    const bool direct = SignatureHolds(*signature, sector, 512);
    CFileSignatureDatabase db;
    CFileType type;
    type.Id = 40;
    type.Signatures.push_back(*signature);
    db.AddTypeForTest(type);
    std::vector<const CFileType*> matches;
    db.MatchSector(sector, matches);
    if (direct != !matches.empty()) __builtin_trap();  // the matcher disagrees
  }
  qmfuzz::EndInput();
  return 0;
}
