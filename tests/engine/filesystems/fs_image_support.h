// Helpers of the tests that read images made by the real tools: text files,
// shell quoting, reading an object as recovery does, and hashing.
#pragma once

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/catalog/found_object.h"
#include "tests/support/test_support.h"

namespace fsimage {

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The tab-separated fields of a line.
inline std::vector<std::string> TabFields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
  return out;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Reads an object through the catalog's reader, as recovery does.
inline std::string ReadObject(const CFoundObject& object) {
  CFoundObjectReader reader(object);
  std::string data;
  std::vector<char> buffer(1 << 20);
  while (data.size() < object.Size) {
    uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), object.Size - data.size()));
    uint32_t got = reader.ReadNext(buffer.data(), want);
    if (got == 0) break;
    data.append(buffer.data(), got);
  }
  if (data.size() > object.Size) data.resize(object.Size);
  return data;
}

inline std::string Sha256(const std::string& dir, const std::string& data) {
  std::string path = dir + "/content.bin";
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  std::string out;
  qmtest::RunCommand("sha256sum " + Quote(path), &out);
  return out.substr(0, 64);
}

}  // namespace fsimage
