// The JSON writer for long listings gives exactly the text the library
// gives for the same object, whatever bytes the names hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "cli/json_output.h"

using namespace qmcli;

TEST(JsonObjectText, SameTextAsTheLibraryForEveryKindOfValue) {
  const std::vector<std::string> names = {
      "",
      "Jpeg_677376.jpg",
      "quote\" and back\\slash",
      std::string("nul\0byte", 8),
      "tab\tnew\nline\r\x01\x1f\x7f",
      "Ünïcödé ελληνικά 日本語 😀",
      "bad \xff\xfe utf-8 \xc3 cut",
      "overlong \xc0\xaf and surrogate \xed\xa0\x80",
      "/Lost files/Images/Png_27136.png",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    nlohmann::json expected;
    expected["created"] = nullptr;
    expected["deleted"] = true;
    expected["id"] = uint64_t(18446744073709551615ull);
    expected["name"] = name;
    expected["record"] = int64_t(-1);
    expected["size"] = uint64_t(0);
    expected["type_id"] = std::numeric_limits<int64_t>::min();
    expected["volume"] = name;
    std::string written = "[";  // appended to what is there
    JsonObjectText text(written);
    text.Null("created")
        .Bool("deleted", true)
        .Unsigned("id", 18446744073709551615ull)
        .String("name", name)
        .String("path", "/Lost files/", name)
        .Number("record", -1)
        .Unsigned("size", 0)
        .Number("type_id", std::numeric_limits<int64_t>::min())
        .StringOrNull("volume", name);
    text.End();
    ASSERT_EQ(written.front(), '[');
    written.erase(0, 1);
    if (name.empty()) expected["volume"] = nullptr;
    expected["path"] = "/Lost files/" + name;
    EXPECT_EQ(written, JsonText(expected, -1));
    // What is written always reads back.
    EXPECT_TRUE(nlohmann::json::accept(written));
  }
  std::string nothing;
  JsonObjectText empty(nothing);
  empty.End();
  EXPECT_EQ(nothing, "{}");
}
