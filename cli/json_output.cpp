#include "cli/json_output.h"

#include <cstdio>

namespace qmcli {

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void PrintJson(const nlohmann::json& value) { std::printf("%s\n", JsonText(value).c_str()); }

void JsonArrayPrinter::Add(const nlohmann::json& element) {
  if (finished_) return;
  std::fputs(count_++ == 0 ? "[\n" : ",\n", stdout);
  std::fputs(JsonText(element, -1).c_str(), stdout);
}

void JsonArrayPrinter::Finish() {
  if (finished_) return;
  finished_ = true;
  std::fputs(count_ == 0 ? "[]\n" : "\n]\n", stdout);
}

}  // namespace qmcli
