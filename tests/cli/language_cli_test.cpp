// The interface language of quillmore-cli: the export of the English texts,
// and German output chosen by the stored setting, the locale or for one run.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = qmtest::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Runs the program with its own settings folder and the given environment;
// `output` receives standard output, then standard error.
int RunCli(const std::string& configDir, const std::string& env, const std::string& args, std::string* output) {
  return qmtest::RunCommand("env -u QUILLMORE_LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=C QUILLMORE_CONFIG_DIR=" +
                                configDir + " " + env + " " + qmtest::CliPath() + " " + args + " 2>&1",
                            output);
}

std::string NothingFound() { return "search " + qmtest::SampleImage() + " --name 'no-such-file*'"; }

}  // namespace

TEST(LanguageCli, ExportWritesTheShippedEnglishFile) {
  const std::string dir = qmtest::MakeTempDir("qm-export-language");
  std::string out;
  EXPECT_EQ(RunCli(dir, "", "export-language " + dir + "/English.lng", &out), 0) << out;
  EXPECT_EQ(ReadText(dir + "/English.lng"), ReadText(qmtest::SourcePath("data/Languages/English.lng")));
  EXPECT_EQ(RunCli(dir, "", "export-language " + dir + "/no/such/folder/x.lng", &out), 1);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_EQ(RunCli(dir, "", "export-language", &out), 2);
}

TEST(LanguageCli, GermanFromTheLocaleIsStoredAndOneRunChoiceIsNot) {
  if (qmtest::SampleImage().empty()) GTEST_SKIP() << "sample image missing";
  std::string out;
  // First start under a German desktop: German, and the choice is stored.
  const std::string stored = qmtest::MakeTempDir("qm-language-stored");
  EXPECT_EQ(RunCli(stored, "LC_MESSAGES=de_DE.UTF-8", NothingFound(), &out), 1);
  EXPECT_NE(out.find("Keine Dateien gefunden"), std::string::npos) << out;
  EXPECT_EQ(RunCli(stored, "", NothingFound(), &out), 1);
  EXPECT_NE(out.find("Keine Dateien gefunden"), std::string::npos) << out;

  // QUILLMORE_LANGUAGE for one run only.
  const std::string once = qmtest::MakeTempDir("qm-language-once");
  EXPECT_EQ(RunCli(once, "QUILLMORE_LANGUAGE=Deutsch", NothingFound(), &out), 1);
  EXPECT_NE(out.find("Keine Dateien gefunden"), std::string::npos) << out;
  EXPECT_EQ(RunCli(once, "", NothingFound(), &out), 1);
  EXPECT_NE(out.find("No files found"), std::string::npos) << out;
}

TEST(LanguageCli, EngineLogLinesComeOutInGerman) {
  if (qmtest::SampleImage().empty()) GTEST_SKIP() << "sample image missing";
  const std::string dir = qmtest::MakeTempDir("qm-language-log");
  std::string out;
  // The log reaches standard error while QUILLMORE_DEBUG is set.
  RunCli(dir, "QUILLMORE_DEBUG=1 QUILLMORE_LANGUAGE=Deutsch", NothingFound() + " --scan", &out);
  EXPECT_NE(out.find("Sektorweise Analyse des Laufwerks beginnt"), std::string::npos) << out;
  EXPECT_NE(out.find("Analyse abgeschlossen."), std::string::npos) << out;
  EXPECT_NE(out.find("Dauer der Analyse:"), std::string::npos) << out;
  EXPECT_EQ(out.find("Analysis completed"), std::string::npos) << out;
}
