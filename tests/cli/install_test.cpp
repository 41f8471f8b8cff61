// make install: the program, its data, the manual page and the bash
// completion land under DESTDIR/PREFIX, and the installed program runs the
// README's commands with the data it finds in share/quillmore/.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(Install, PutsEverythingWhereItBelongsAndTheInstalledProgramRuns) {
  const std::string root = qmtest::MakeTempDir("qm-install");
  const std::string prefix = "/opt/quillmore-test";
  ASSERT_EQ(qmtest::RunCommand("DESTDIR=" + root + " cmake --install " + std::string(QM_BINARY_DIR) + " --prefix " +
                               prefix + " >/dev/null"),
            0);
  const std::string base = root + prefix;
  const std::string cli = base + "/bin/quillmore-cli";
  EXPECT_TRUE(fs::exists(cli));
  EXPECT_TRUE(fs::exists(base + "/share/quillmore/signatures.reg"));
  EXPECT_FALSE(fs::exists(base + "/share/quillmore/samples"));
  EXPECT_TRUE(fs::exists(base + "/share/man/man1/quillmore-cli.1"));
  EXPECT_TRUE(fs::exists(base + "/share/bash-completion/completions/quillmore-cli"));
  EXPECT_EQ(qmtest::RunCommand("bash -n " + base + "/share/bash-completion/completions/quillmore-cli"), 0);
  if (qmtest::HaveTool("man")) {
    std::string page;
    EXPECT_EQ(qmtest::RunCommand("MANWIDTH=80 man -l " + base + "/share/man/man1/quillmore-cli.1 2>&1", &page), 0);
    EXPECT_NE(page.find("EXIT STATUS"), std::string::npos);
    EXPECT_EQ(page.find("warning"), std::string::npos) << page;
  }

  // A first start with a fresh settings folder imports the shipped
  // signatures from share/quillmore/.
  const std::string env = "QUILLMORE_CONFIG_DIR=" + qmtest::MakeTempDir("qm-install-config") + " ";
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(env + cli + " --version", &out), 0);
  EXPECT_EQ(out.rfind("quillmore-cli ", 0), 0u);
  if (qmtest::HaveTool("strace")) {
    qmtest::RunCommand(env + "strace -f -e trace=openat " + cli + " types 2>&1 >/dev/null", &out);
    EXPECT_NE(out.find("/bin/../share/quillmore/signatures.reg"), std::string::npos) << out;
  }
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types", &out), 0);
  EXPECT_NE(out.find("JPEG image"), std::string::npos);
  const std::string sample = qmtest::SampleImage();
  if (sample.empty()) return;
  EXPECT_EQ(qmtest::RunCommand(env + cli + " info " + sample, &out), 0);
  EXPECT_EQ(qmtest::RunCommand(env + cli + " list " + sample, &out), 0);
  EXPECT_EQ(qmtest::RunCommand(env + cli + " search " + sample + " --name '*.jpg' --scan", &out), 0);
  EXPECT_NE(out.find("sunset.jpg"), std::string::npos);
  const std::string dest = root + "/recovered";
  EXPECT_EQ(qmtest::RunCommand(env + cli + " recover " + sample + " --to " + dest +
                               " --scan --lost-size next --allow-same-drive 2>/dev/null", &out), 0)
      << out;
  EXPECT_TRUE(fs::exists(dest + "/Lost files/Images/Png_37748736.png"));
  fs::remove_all(root);
}
