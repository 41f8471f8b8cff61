// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmtest {

// A new empty folder under the temporary folder.
std::string MakeTempDir(const std::string& stem);
// Writes bytes to a new file in a temporary folder and returns its path.
std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Runs a shell command; returns its exit status and fills `output` with
// its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
// Absolute path of a file in the source tree.
std::string SourcePath(const std::string& relative);
// Path of the command-line program under test.
std::string CliPath();
// True when a program is on PATH.
bool HaveTool(const std::string& name);
// The text quoted for the shell ('...').
std::string ShellQuote(const std::string& text);
// Runs a fixture script of scripts/ with a new temporary folder (named
// after `stem`) as its argument; the folder, or empty when the script failed.
std::string RunFixtureScript(const std::string& script, const std::string& stem);

}  // namespace qmtest

namespace qmtest {
// Path of the bundled sample image data/samples/sample-fat32.img, unpacked
// from its .zst beside it when it is not there yet; empty when neither exists.
std::string SampleImage();
}  // namespace qmtest
