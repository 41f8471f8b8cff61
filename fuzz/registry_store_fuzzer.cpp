// The settings store's reader: the input as a store file, loaded from disk
// (bounds, set-aside), exported, and read back from its own export.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_input.h"
#include "platform/registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  static const std::string path = std::string(std::getenv("QUILLMORE_CONFIG_DIR")) + "/fuzz-registry";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  CRegistryStore store(path);
  store.Load();
  const std::string text = store.ExportText();
  CRegistryStore again(path + ".2");
  again.ImportText(text);
  if (again.ExportText() != text) __builtin_trap();  // the export does not read back
  for (const std::string& key : store.SubKeys("Software\\Quillmore\\Professional\\1.0"))
    store.ValueNames("Software\\Quillmore\\Professional\\1.0\\" + key);
  ::unlink(path.c_str());
  ::unlink((path + ".damaged").c_str());
  qmfuzz::EndInput();
  return 0;
}
