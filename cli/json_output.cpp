#include "cli/json_output.h"

#include <charconv>
#include <cstdio>

namespace qmcli {

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void PrintJson(const nlohmann::json& value) { std::printf("%s\n", JsonText(value).c_str()); }

namespace {

// Whether `value` goes into a JSON string as it stands: printable ASCII with
// no quote or backslash, which nearly every name and path is.
bool Plain(std::string_view value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') return false;
  }
  return true;
}

// Appends `value + more` as a JSON string (quotes included) to `out`.
// Anything not plain (control characters, quotes, UTF-8 to check) goes
// through the library's own escaping, so both ways give the same text.
void AppendJsonString(std::string& out, std::string_view value, std::string_view more = {}) {
  if (!Plain(value) || !Plain(more)) {
    std::string whole(value);
    whole += more;
    out += JsonText(nlohmann::json(std::move(whole)), -1);
    return;
  }
  out += '"';
  out += value;
  out += more;
  out += '"';
}

}  // namespace

void JsonObjectText::Key(std::string_view key) {
  // Keys are the program's own plain names: nothing in them to escape.
  text_.append(first_ ? "{\"" : ",\"", 2);
  first_ = false;
  text_.append(key);
  text_.append("\":", 2);
}

JsonObjectText& JsonObjectText::Null(std::string_view key) {
  Key(key);
  text_ += "null";
  return *this;
}

JsonObjectText& JsonObjectText::Bool(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObjectText& JsonObjectText::Number(std::string_view key, int64_t value) {
  Key(key);
  char digits[24];
  text_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  return *this;
}

JsonObjectText& JsonObjectText::Unsigned(std::string_view key, uint64_t value) {
  Key(key);
  char digits[24];
  text_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  return *this;
}

JsonObjectText& JsonObjectText::String(std::string_view key, std::string_view value) {
  Key(key);
  AppendJsonString(text_, value);
  return *this;
}

JsonObjectText& JsonObjectText::String(std::string_view key, std::string_view value, std::string_view more) {
  Key(key);
  AppendJsonString(text_, value, more);
  return *this;
}

JsonObjectText& JsonObjectText::StringOrNull(std::string_view key, std::string_view value) {
  return value.empty() ? Null(key) : String(key, value);
}

void JsonObjectText::End() {
  text_ += first_ ? "{}" : "}";
  first_ = true;
}

void JsonArrayPrinter::Add(const nlohmann::json& element) { AddText(JsonText(element, -1)); }

void JsonArrayPrinter::AddText(std::string_view element) {
  if (finished_) return;
  std::fputs(count_++ == 0 ? "[\n" : ",\n", stdout);
  std::fwrite(element.data(), 1, element.size(), stdout);
}

void JsonArrayPrinter::Finish() {
  if (finished_) return;
  finished_ = true;
  std::fputs(count_ == 0 ? "[]\n" : "\n]\n", stdout);
}

}  // namespace qmcli
