// The program's knowledge of file types: records with signatures, groups,
// extensions and default sizes, kept in the registry store.
//
// Threads: the database is loaded and changed (Load, ImportSignatureFile,
// AddTypeForTest) on one thread before or between scans. While a scan runs,
// any number of threads may call MatchSector, FindById, FindTypeForObject,
// FindGroup and FirstExtension at once; the only change allowed meanwhile is
// a type's SearchEnable switch through SetSearchEnable, which the scan sees
// at its next test.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/scanner/signature_condition.h"

struct CFoundObject;
class CRegistryStore;
class CSignatureMatcher;

// Key of the database under the current user's store.
constexpr const char* SIGNATURES_KEY = "Software\\Quillmore\\Professional\\1.0\\Signatures";
constexpr const char* SIGNATURE_GROUPS_KEY = "Software\\Quillmore\\Professional\\1.0\\Groups";
// Size of a type's numeric part in a signature file.
constexpr size_t FILETYPE_PACKED_BYTES = 1436;
// Size of a signature's header in a signature file.
constexpr size_t SIGNATURE_PACKED_HEADER = 20;

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

  // 1 for a group record.
  uint32_t IsGroup = 0;
  // Reserved words of the numeric part, kept so that a signature file
  // written from a record carries them unchanged.
  int32_t Reserved24 = 0;
  uint32_t Reserved28 = 0;
  uint32_t Reserved32 = 0;
  uint32_t Reserved40 = 100;
  uint32_t Reserved44 = 50;
  // The alternatives: the type matches when any one of them holds.
  std::vector<CSignature> Signatures;
  // The store key the record was loaded from (empty for records made in
  // memory); saves go back to it.
  std::string SourceKey;
};

class CFileSignatureDatabase {
public:
  CFileSignatureDatabase();
  ~CFileSignatureDatabase();
  CFileSignatureDatabase(const CFileSignatureDatabase&) = delete;
  CFileSignatureDatabase& operator=(const CFileSignatureDatabase&) = delete;

  // Reads every type below SIGNATURES_KEY of the store (the user's store
  // when none is given), replacing what was loaded before, then builds the
  // groups, the extensions map and the compiled matcher.
  void Load(CRegistryStore& store);
  void Load();
  // Writes every type's seven numbers and six texts back to its key (the
  // signature values already there stay) and saves the store. With no store
  // given, the store the database was loaded from (else the user's). Returns
  // 1, or 0 when the store could not be written.
  int SaveAll(CRegistryStore& store);
  int SaveAll();

  const CFileType* FindById(int32_t id) const;
  CFileType* FindById(int32_t id);
  // The type of a file-system object by the extension of its name, or of a
  // lost object by its FileType: FileType first when a type has that id,
  // else the extension. The non-const form also sets the object's FileType
  // when the extension decides.
  const CFileType* FindTypeForObject(const CFoundObject& object) const;
  const CFileType* FindTypeForObject(CFoundObject& object) const;
  // By extension alone (with or without dot, any case).
  const CFileType* FindByExtension(const std::string& extension) const;
  const CFileTypeGroup* FindGroup(int64_t id) const;
  std::string FirstExtension(int32_t id) const;
  // The first extension of an extensions text: up to the first ";" or ",",
  // trimmed, at most 99 characters.
  static std::string FirstExtensionOf(const std::string& fileExtensions);

  // The types in list order, and the groups in the order they were made.
  const std::vector<std::unique_ptr<CFileType>>& Types() const { return types_; }
  const std::vector<CFileTypeGroup>& Groups() const { return groups_; }

  // Whether any signature of the type holds for the sector; `available` is
  // how many bytes from `sector` on may be read.
  static bool MatchSector(const CFileType& type, const uint8_t* sector, size_t available);
  // The scanner's test: appends to `matches` every type switched on for
  // search whose signatures match the 512 bytes at `sector512`, in list
  // order. Uses the compiled matcher: a few byte tests per sector whatever
  // the number of types. Safe from any number of threads at once.
  void MatchSector(const uint8_t* sector512, std::vector<const CFileType*>& matches) const;
  // Switches a type's search on or off; a running scan sees it at its next
  // test.
  static void SetSearchEnable(CFileType& type, bool enable);
  static uint32_t GetSearchEnable(const CFileType& type);

  // Signature files (".filesig"): the numeric part and the signatures of one
  // type. Import adds the type, or updates the type with the same id, then
  // saves the database; it returns the type, or null when the file cannot be
  // read or holds no valid image. `message` receives the text to show.
  CFileType* ImportSignatureFile(const std::string& path, std::string* message = nullptr);
  static int ExportSignatureFile(const CFileType& type, const std::string& path);
  static std::vector<uint8_t> PackType(const CFileType& type);
  // A record from a packed image; null when the image is shorter than the
  // numeric part. Signatures are read as far as they are well formed.
  static std::unique_ptr<CFileType> UnpackType(const std::vector<uint8_t>& image);

  // Compiles the registry text of a signature (see CompileSignatureText).
  static std::optional<CSignature> CompileSignature(const std::string& text) { return CompileSignatureText(text); }

  // Tests: add a type directly (groups, extensions and matcher are rebuilt).
  CFileType& AddTypeForTest(CFileType type);
  // Rebuilds the groups, extensions and compiled matcher after the types
  // were changed in place.
  void Rebuild();

private:
  void BuildGroups();
  void BuildExtensions();
  void BuildMatcher();
  int64_t GroupIdFor(const std::string& name);
  static void SaveRecord(CRegistryStore& store, const CFileType& type);

  std::vector<std::unique_ptr<CFileType>> types_;
  std::vector<CFileTypeGroup> groups_;
  std::map<std::string, int64_t> groupIds_;            // group name -> identity
  std::map<std::string, CFileType*> extensions_;       // upper-case extension -> type
  std::atomic<const CSignatureMatcher*> matcher_{nullptr};
  // Matchers replaced by a rebuild stay alive until the database goes, so a
  // scan that still holds one never reads freed memory.
  std::vector<std::unique_ptr<CSignatureMatcher>> matchers_;
  std::mutex buildMutex_;
  CRegistryStore* store_ = nullptr;
};

// Start-up: the shipped database file (data/signatures.reg beside the
// executable, in ../share/quillmore/ relative to it, or in the source tree);
// empty when none is found.
std::string FindShippedSignatureFile();
// Imports the shipped database into the store when its Signatures key is
// missing (first start) and saves the store. True when the key exists after.
bool InstallShippedSignatures(CRegistryStore& store, const std::string& shippedPath);
// The one call of the start-up: installs the shipped set on first start,
// then loads theComputer().Signatures() from the user's store.
void LoadSignatureDatabase();
