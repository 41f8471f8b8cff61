// The one way quillmore-cli writes JSON: text from a disk that is not valid
// UTF-8 comes out with U+FFFD in its place, never as an exception.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace qmcli {

// The JSON text of `value`; `indent` < 0 gives one line.
std::string JsonText(const nlohmann::json& value, int indent = 2);

// Prints `value` and a newline on standard output.
void PrintJson(const nlohmann::json& value);

// Prints a JSON array to standard output one element per line as it is
// given, so a catalog of millions of objects is never built a second time
// in memory.
class JsonArrayPrinter {
public:
  JsonArrayPrinter() = default;
  ~JsonArrayPrinter() { Finish(); }
  JsonArrayPrinter(const JsonArrayPrinter&) = delete;
  JsonArrayPrinter& operator=(const JsonArrayPrinter&) = delete;
  void Add(const nlohmann::json& element);
  // Closes the array; "[]" when nothing was added. Later calls do nothing.
  void Finish();
  size_t Count() const { return count_; }

private:
  size_t count_ = 0;
  bool finished_ = false;
};

}  // namespace qmcli
