// The program's knowledge of file types: records with signatures, groups,
// extensions and default sizes, kept in the registry store.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct CFoundObject;

struct CFileTypeGroup {
  int64_t Id = 0;
  std::string Title;
};

struct CFileType {
  int32_t Id = 0;
  int64_t GroupId = 0;
  uint32_t SearchEnable = 1;
  uint32_t View = 0;
  uint32_t ShowFilesThisType = 1;
  uint32_t DefaultSize = 1024;   // kilobytes
  uint32_t SearchOrder = 50;
  uint32_t SizeRule = 0;         // remembered probable-size choice
  std::string FirstExtension;
  std::string Title;
  std::string Description;
  std::string FileExtensions;
  std::string Prefix;
  std::string LastUpdate;
  std::string Group;
  uint32_t InternalProcessing = 0;
  uint32_t Enable = 0;
};

class CFileSignatureDatabase {
public:
  CFileSignatureDatabase();
  ~CFileSignatureDatabase();

  const CFileType* FindById(int32_t id) const;
  CFileType* FindById(int32_t id);
  // The type of a file-system object by the extension of its name, or of a
  // lost object by its FileType.
  const CFileType* FindTypeForObject(const CFoundObject& object) const;
  const CFileTypeGroup* FindGroup(int64_t id) const;
  std::string FirstExtension(int32_t id) const;
  // Tests: add a type directly.
  CFileType& AddTypeForTest(CFileType type);

private:
  std::vector<std::unique_ptr<CFileType>> types_;
  std::vector<CFileTypeGroup> groups_;
};
