#include "cli/json_output.h"

#include <charconv>
#include <cstdio>

namespace qmcli {

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void PrintJson(const nlohmann::json& value) { std::printf("%s\n", JsonText(value).c_str()); }

namespace {

// Appends `value` as a JSON string (quotes included) to `out`.
void AppendJsonString(std::string& out, std::string_view value) {
  // Nearly every name and path is printable ASCII with nothing to escape;
  // anything else (control characters, quotes, UTF-8 to check) goes through
  // the library's own escaping, so both ways give the same text.
  bool plain = true;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') {
      plain = false;
      break;
    }
  }
  if (!plain) {
    out += JsonText(nlohmann::json(std::string(value)), -1);
    return;
  }
  out += '"';
  out += value;
  out += '"';
}

}  // namespace

void JsonObjectText::Key(std::string_view key) {
  // Keys are the program's own plain names: nothing in them to escape.
  text_.append(text_.empty() ? "{\"" : ",\"", 2);
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

JsonObjectText& JsonObjectText::StringOrNull(std::string_view key, std::string_view value) {
  return value.empty() ? Null(key) : String(key, value);
}

std::string JsonObjectText::Take() {
  std::string text = text_.empty() ? std::string("{}") : std::move(text_) + '}';
  text_.clear();
  return text;
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
