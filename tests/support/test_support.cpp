#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace qmtest {

std::string MakeTempDir(const std::string& stem) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + stem + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  return buf.data();
}

std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = MakeTempDir("qm-file") + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  int status = ::pclose(pipe);
  if (output) *output = std::move(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SourcePath(const std::string& relative) { return std::string(QM_SOURCE_DIR) + "/" + relative; }

std::string CliPath() {
  const char* env = std::getenv("QM_CLI");
  if (env && *env) return env;
  return std::string(QM_BINARY_DIR) + "/quillmore-cli";
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string RunFixtureScript(const std::string& script, const std::string& stem) {
  const std::string dir = MakeTempDir(stem);
  if (RunCommand("sh " + ShellQuote(SourcePath("scripts/" + script)) + " " + ShellQuote(dir) + " >/dev/null 2>&1") != 0)
    return {};
  return dir;
}

}  // namespace qmtest

namespace qmtest {

std::string SampleImage() {
  const std::string image = SourcePath("data/samples/sample-fat32.img");
  if (std::filesystem::exists(image)) return image;
  const std::string packed = image + ".zst";
  if (!std::filesystem::exists(packed)) return {};
  // Unpacked to a private name and renamed, so test programs running at the
  // same time never see a half-written image.
  const std::string temp = image + ".tmp." + std::to_string(::getpid());
  if (RunCommand("zstd -q -d -f '" + packed + "' -o '" + temp + "' 2>/dev/null") != 0) return {};
  std::error_code ec;
  std::filesystem::rename(temp, image, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return std::filesystem::exists(image) ? image : std::string();
}

}  // namespace qmtest
