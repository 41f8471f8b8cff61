#include "services/strings.h"

#include <unordered_map>

namespace {
const std::unordered_map<uint32_t, const char*>& BuiltInEnglish() {
  static const std::unordered_map<uint32_t, const char*> table = {
      {163, "Search"},
      {182, "No files found"},
      {4301, "Filesystem (lost fragments)"},
      {4355, "lost_file_%I64d"},
      {5200, "Lost files"},
      {5300, "lost_folder_%d"},
      {57112, "Aborting..."},
      {57118, "Folder"},
      {57211, "Analyzing file system."},
      {57311, "Analyzing drive sectors."},
  };
  return table;
}
}  // namespace

std::string GetString(uint32_t number) {
  const auto& table = BuiltInEnglish();
  auto it = table.find(number);
  return it == table.end() ? std::string() : std::string(it->second);
}
