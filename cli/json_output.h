// The one way quillmore-cli writes JSON: text from a disk that is not valid
// UTF-8 comes out with U+FFFD in its place, never as an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qmcli {

// The JSON text of `value`; `indent` < 0 gives one line.
std::string JsonText(const nlohmann::json& value, int indent = 2);

// Prints `value` and a newline on standard output.
void PrintJson(const nlohmann::json& value);

// One JSON object written field by field straight to text, for listings of
// millions of objects where building a document per object costs more than
// the listing. Given its fields in key order, the text is exactly what
// JsonText(value, -1) gives for the same object; strings are escaped the
// same way (invalid UTF-8 as U+FFFD). Keys are plain ASCII names with
// nothing to escape.
class JsonObjectText {
public:
  // Appends the object to `out`; it is complete once End() is called.
  explicit JsonObjectText(std::string& out) : text_(out) {}
  JsonObjectText& Null(std::string_view key);
  JsonObjectText& Bool(std::string_view key, bool value);
  JsonObjectText& Number(std::string_view key, int64_t value);
  JsonObjectText& Unsigned(std::string_view key, uint64_t value);
  JsonObjectText& String(std::string_view key, std::string_view value);
  // One string made of two parts, without putting them together first.
  JsonObjectText& String(std::string_view key, std::string_view value, std::string_view more);
  // A string, or null when it is empty.
  JsonObjectText& StringOrNull(std::string_view key, std::string_view value);
  void End();

private:
  void Key(std::string_view key);
  std::string& text_;
  bool first_ = true;
};

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
  // An element already written as JSON text.
  void AddText(std::string_view element);
  // Closes the array; "[]" when nothing was added. Later calls do nothing.
  void Finish();
  size_t Count() const { return count_; }

private:
  size_t count_ = 0;
  bool finished_ = false;
};

}  // namespace qmcli
