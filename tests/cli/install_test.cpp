// make install: the program, its data, the manual page and the bash
// completion land under DESTDIR/PREFIX, and the installed program runs the
// README's commands with the data it finds in share/quillmore/.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

// The installed completion, loaded as bash-completion loads it, completes
// the commands the installed program lists, a command's options from its
// own help, and the fixed values of an option.
TEST(Install, CompletionCompletesCommandsOptionsAndValues) {
  const std::string loader = "/usr/share/bash-completion/bash_completion";
  if (!fs::exists(loader)) GTEST_SKIP() << "bash-completion is not installed";
  const std::string root = qmtest::MakeTempDir("qm-complete");
  ASSERT_EQ(qmtest::RunCommand("DESTDIR=" + root + " cmake --install " + std::string(QM_BINARY_DIR) +
                               " --prefix /usr/local >/dev/null"),
            0);
  const std::string base = root + "/usr/local";
  const std::string text =
                    "source " + loader + "\n"
                    "source " + base + "/share/bash-completion/completions/quillmore-cli\n"
                    "export PATH=" + base + "/bin:$PATH QUILLMORE_CONFIG_DIR=" + root + "\n"
                    "try() { COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=\"$*\";\n"
                    "  COMP_POINT=${#COMP_LINE}; COMPREPLY=(); _quillmore_cli; echo \"$*|${COMPREPLY[*]}\"; }\n"
                    "try quillmore-cli ''\n"
                    "try quillmore-cli par\n"
                    "try quillmore-cli recover --lost\n"
                    "try quillmore-cli recover --lost-size n\n"
                    "try quillmore-cli help ima\n";
  const std::string script = qmtest::WriteTempFile("complete.sh", std::vector<uint8_t>(text.begin(), text.end()));
  std::string out;
  ASSERT_EQ(qmtest::RunCommand("bash " + script, &out), 0) << out;
  EXPECT_NE(out.find("quillmore-cli |help drives dump"), std::string::npos) << out;
  EXPECT_NE(out.find("quillmore-cli par|partitions\n"), std::string::npos) << out;
  EXPECT_NE(out.find("quillmore-cli recover --lost|--lost-size\n"), std::string::npos) << out;
  EXPECT_NE(out.find("quillmore-cli recover --lost-size n|next next-same\n"), std::string::npos) << out;
  EXPECT_NE(out.find("quillmore-cli help ima|image\n"), std::string::npos) << out;
  fs::remove_all(root);
}
