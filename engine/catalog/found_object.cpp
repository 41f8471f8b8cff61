// Placeholder bodies; the catalog implements these fully.
#include "engine/catalog/found_object.h"

void CFoundObject::SetName(std::string_view name) {
  if (name.empty()) return;
  Name.assign(name);
  Flags |= FOF_NAMED | FOF_OWNS_NAME;
}
uint32_t CFoundObject::CheckBounds() const { return 0; }
void CFoundObject::MakeLostFileName() {}
std::string CFoundObject::GetFullPath() const { return "/"; }

CFoundObjectReader::CFoundObjectReader(const CFoundObject& record) : Object(record) {}
CFoundObjectReader::CFoundObjectReader(const CFoundObject& record, std::vector<FoundObjectRun> runs)
    : Object(record), Runs(std::move(runs)) {}
uint32_t CFoundObjectReader::ReadNext(void*, uint32_t) { return 0; }
