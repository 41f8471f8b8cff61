// Placeholder bodies; the signature database implements these fully.
#include "engine/scanner/file_signature_database.h"

CFileSignatureDatabase::CFileSignatureDatabase() = default;
CFileSignatureDatabase::~CFileSignatureDatabase() = default;
const CFileType* CFileSignatureDatabase::FindById(int32_t id) const {
  for (const auto& t : types_)
    if (t->Id == id) return t.get();
  return nullptr;
}
CFileType* CFileSignatureDatabase::FindById(int32_t id) {
  for (auto& t : types_)
    if (t->Id == id) return t.get();
  return nullptr;
}
const CFileType* CFileSignatureDatabase::FindTypeForObject(const CFoundObject&) const { return nullptr; }
const CFileTypeGroup* CFileSignatureDatabase::FindGroup(int64_t) const { return nullptr; }
std::string CFileSignatureDatabase::FirstExtension(int32_t) const { return {}; }
CFileType& CFileSignatureDatabase::AddTypeForTest(CFileType type) {
  types_.push_back(std::make_unique<CFileType>(std::move(type)));
  return *types_.back();
}
