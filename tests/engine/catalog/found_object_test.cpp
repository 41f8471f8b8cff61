// A lost file's name from a label its content gave (a capture time, a
// document's title): only what is safe and readable in a file name is kept.
#include <gtest/gtest.h>

#include <string>

#include "engine/catalog/found_object.h"
#include "engine/scanner/file_signature_database.h"

namespace {

const CFileSignatureDatabase& Database() {
  static CFileSignatureDatabase* db = [] {
    auto* d = new CFileSignatureDatabase;
    CFileType t;
    t.Id = 3301;
    t.Prefix = "Doc";
    t.FileExtensions = "qdoc";
    d->AddTypeForTest(t);
    return d;
  }();
  return *db;
}

std::string Named(const std::string& label) { return CFoundObject::LostFileName(Database(), 3301, 4096, label); }

}  // namespace

TEST(LostFileNames, ALabelKeepsLettersOfAnyScriptAndLosesWhatIsUnsafe) {
  EXPECT_EQ(Named(""), "Doc_4096.qdoc");
  EXPECT_EQ(Named("2024-06-01 14-03-22"), "Doc_2024-06-01 14-03-22_4096.qdoc");
  EXPECT_EQ(Named("Gr\u00fc\u00dfe aus K\u00f6ln, \u4E2D\u6587"), "Doc_Gr\u00fc\u00dfe aus K\u00f6ln, \u4E2D\u6587_4096.qdoc");
  // Separators, dots, controls, direction and invisible marks: one "_" a run.
  EXPECT_EQ(Named("../../etc/passwd"), "Doc_etc_passwd_4096.qdoc");
  EXPECT_EQ(Named("Q3: Sales/Plan\x01\x7f\r\n."), "Doc_Q3_ Sales_Plan_4096.qdoc");
  EXPECT_EQ(Named("evil\u202Etxt.exe\u200B"), "Doc_evil_txt_exe_4096.qdoc");
  // Bytes that are no UTF-8 (a lone continuation, an overlong "/", a
  // surrogate, a cut character).
  EXPECT_EQ(Named("a\x80" "b\xC0\xAF" "c\xED\xA0\x80" "d\xE4\xB8"), "Doc_a_b_c_d_4096.qdoc");
  EXPECT_EQ(Named("\x01\x02/"), "Doc_4096.qdoc");
  // A long title keeps 64 bytes and never half a character.
  std::string longTitle;
  for (int i = 0; i < 100; ++i) longTitle += "\u00e9";
  const std::string name = Named(longTitle);
  EXPECT_EQ(name, "Doc_" + longTitle.substr(0, 64) + "_4096.qdoc");
}
