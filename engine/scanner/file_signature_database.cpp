#include "engine/scanner/file_signature_database.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/catalog/found_object.h"
#include "engine/scanner/signature_matcher.h"
#include "engine/volume/local_computer.h"
#include "platform/registry_store.h"
#include "services/format.h"

namespace {

const char* const kDwordNames[] = {"InternalProcessing", "SearchEnable", "ShowFilesThisType", "Enable",
                                   "View",               "DefaultSize",  "SearchOrder"};
const char* const kStringNames[] = {"Title", "Description", "FileExtensions", "Prefix", "Group", "LastUpdate"};

uint32_t* DwordField(CFileType& t, size_t i) {
  uint32_t* fields[] = {&t.InternalProcessing, &t.SearchEnable, &t.ShowFilesThisType, &t.Enable,
                        &t.View,               &t.DefaultSize,  &t.SearchOrder};
  return fields[i];
}
std::string* StringField(CFileType& t, size_t i) {
  std::string* fields[] = {&t.Title, &t.Description, &t.FileExtensions, &t.Prefix, &t.Group, &t.LastUpdate};
  return fields[i];
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The key name read as a number the way the C library reads one: leading
// blanks, a sign, digits up to the first other character; 0 when none.
int32_t KeyNameToId(const std::string& name) {
  size_t i = 0;
  while (i < name.size() && (name[i] == ' ' || name[i] == '\t')) ++i;
  bool negative = false;
  if (i < name.size() && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
  int64_t v = 0;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) v = std::min<int64_t>(v * 10 + (name[i] - '0'), INT32_MAX);
  return static_cast<int32_t>(negative ? -v : v);
}

// Trims the characters an extensions list may carry around a piece.
std::string TrimExtension(const std::string& piece) {
  const char* junk = ",; *.";
  size_t b = piece.find_first_not_of(junk);
  if (b == std::string::npos) return {};
  size_t e = piece.find_last_not_of(junk);
  return piece.substr(b, e - b + 1);
}

std::vector<std::string> SplitExtensions(const std::string& text) {
  std::vector<std::string> out;
  std::string piece;
  for (char c : text) {
    if (c == ';' || c == ',') {
      out.push_back(TrimExtension(piece));
      piece.clear();
    } else {
      piece.push_back(c);
    }
  }
  out.push_back(TrimExtension(piece));
  std::erase_if(out, [](const std::string& s) { return s.empty(); });
  return out;
}

// The extension of a name as the shell finds it: the text after the last
// dot, unless a blank or a path separator follows that dot.
std::string NameExtension(const std::string& name) {
  size_t dot = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '.') dot = i;
    else if (name[i] == ' ' || name[i] == '/' || name[i] == '\\') dot = std::string::npos;
  }
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot);
  size_t b = ext.find_first_not_of('.');
  return b == std::string::npos ? std::string() : ext.substr(b);
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
uint32_t GetU32(const std::vector<uint8_t>& in, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(in[at + i]) << (8 * i);
  return v;
}
uint16_t GetU16(const std::vector<uint8_t>& in, size_t at) { return uint16_t(in[at] | (in[at + 1] << 8)); }

// The registry text of a signature that came from a signature file, when
// one pattern condition at offset 0 without repeats says all of it and every
// mask byte selects a whole byte or nothing (the text form can say no more).
std::optional<std::string> SignatureAsText(const CSignature& s) {
  if (s.Conditions.size() != 1) return std::nullopt;
  const CSignatureCondition& c = s.Conditions[0];
  if (c.Kind != SIGCOND_MASKED || c.Offset != 0 || c.Repeat != 0 || c.Data.size() != SIG_MASKED_DATA_BYTES)
    return std::nullopt;
  std::string text;
  for (size_t j = 0, n = c.MaskedLength(); j < n; ++j) {
    if (c.Mask()[j] == 0) continue;
    if (c.Mask()[j] != 0xFF) return std::nullopt;
    if (!text.empty()) text += ",";
    text += qm::Format("%d=$%02X", int(j), int(c.Pattern()[j]));
  }
  if (text.empty()) return std::nullopt;
  return text;
}

std::string ExecutableDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, size_t(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

// "Signature01" .. "Signature99".
std::string SignatureValueName(int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Signature%.2d", n);
  return buf;
}

// A type's key: the base key, a backslash and the id with five digits.
std::string IdKey(const char* base, int32_t id) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "\\%.5d", id);
  return base + std::string(buf);
}

}  // namespace

CFileSignatureDatabase::CFileSignatureDatabase() = default;
// Switches are saved when they change (the view filter and the command line
// call SaveAll), not here: at process exit the store may already be gone.
CFileSignatureDatabase::~CFileSignatureDatabase() = default;

void CFileSignatureDatabase::Load() { Load(CRegistryStore::User()); }

void CFileSignatureDatabase::Load(CRegistryStore& store) {
  store_ = &store;
  types_.clear();
  const std::string base = SIGNATURES_KEY;
  std::vector<std::string> names = store.KeyExists(base) ? store.SubKeys(base) : std::vector<std::string>{};
  for (size_t i = 0; i < names.size() && i < 32767; ++i) {
    const std::string& name = names[i];
    if (name.size() >= 256) continue;  // longer than an enumerated key name can be
    auto type = std::make_unique<CFileType>();
    const std::string key = base + "\\" + name;
    type->SourceKey = key;
    // All of the type's values at once: a few hundred types are read at
    // every start.
    const auto values = store.Values(key);
    auto value = [&values](std::string_view wanted) -> const CRegistryStore::Value* {
      for (const auto& [valueName, v] : values)
        if (valueName.size() == wanted.size() &&
            std::equal(valueName.begin(), valueName.end(), wanted.begin(), [](char a, char b) {
              return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
          return &v;
      return nullptr;
    };
    for (size_t d = 0; d < std::size(kDwordNames); ++d) {
      const CRegistryStore::Value* v = value(kDwordNames[d]);
      if (v && std::holds_alternative<uint32_t>(*v)) *DwordField(*type, d) = std::get<uint32_t>(*v);
    }
    for (size_t s = 0; s < std::size(kStringNames); ++s) {
      const CRegistryStore::Value* v = value(kStringNames[s]);
      if (v && std::holds_alternative<std::string>(*v)) *StringField(*type, s) = std::get<std::string>(*v);
    }
    type->Id = KeyNameToId(name);
    for (int n = 1; n <= 99; ++n) {
      const CRegistryStore::Value* v = value(SignatureValueName(n));
      if (!v || !std::holds_alternative<std::string>(*v)) break;
      if (auto signature = CompileSignatureText(std::get<std::string>(*v)))
        type->Signatures.push_back(std::move(*signature));
    }
    type->FirstExtension = FirstExtensionOf(type->FileExtensions);
    types_.push_back(std::move(type));
  }
  Rebuild();
}

void CFileSignatureDatabase::Rebuild() {
  BuildGroups();
  BuildExtensions();
  BuildMatcher();
}

int64_t CFileSignatureDatabase::GroupIdFor(const std::string& name) {
  auto it = groupIds_.find(name);
  if (it != groupIds_.end()) return it->second;
  int64_t id = theComputer().NextVolumeId();
  groupIds_[name] = id;
  groups_.push_back({id, name});
  return id;
}

void CFileSignatureDatabase::BuildGroups() {
  groups_.clear();
  groupIds_.clear();
  groupIds_["Unknown"] = -1;
  groups_.push_back({-1, "Unknown"});
  for (auto& type : types_) type->GroupId = GroupIdFor(type->Group);
}

void CFileSignatureDatabase::BuildExtensions() {
  extensions_.clear();
  for (auto& type : types_)
    for (const std::string& piece : SplitExtensions(type->FileExtensions))
      extensions_.emplace(Upper(piece), type.get());  // the first claim stays
}

void CFileSignatureDatabase::BuildMatcher() {
  std::lock_guard lock(buildMutex_);
  std::vector<CFileType*> list;
  for (auto& t : types_) list.push_back(t.get());
  auto matcher = std::make_unique<CSignatureMatcher>(list);
  matcher_.store(matcher.get(), std::memory_order_release);
  matchers_.push_back(std::move(matcher));
}

void CFileSignatureDatabase::SaveRecord(CRegistryStore& store, const CFileType& type) {
  std::string key;
  if (type.IsGroup) key = IdKey(SIGNATURE_GROUPS_KEY, type.Id);
  else if (!type.SourceKey.empty()) key = type.SourceKey;
  else key = IdKey(SIGNATURES_KEY, type.Id);
  store.CreateKey(key);
  CFileType& t = const_cast<CFileType&>(type);
  for (size_t d = 0; d < std::size(kDwordNames); ++d) {
    uint32_t v = d == 1 ? GetSearchEnable(type) : *DwordField(t, d);
    store.SetDword(key, kDwordNames[d], v);
  }
  for (size_t s = 0; s < std::size(kStringNames); ++s) store.SetString(key, kStringNames[s], *StringField(t, s));

  // Signatures that came from a signature file have no value in the key yet
  // (or stale ones): write them in the text form when it can carry them, so
  // that they survive a restart. Signatures read from the key stay as they
  // are.
  bool fromFile = !type.Signatures.empty() &&
                  std::all_of(type.Signatures.begin(), type.Signatures.end(),
                              [](const CSignature& s) { return s.Text.empty(); });
  if (!fromFile || type.Signatures.size() > 99) return;
  std::vector<std::string> texts;
  for (const auto& s : type.Signatures) {
    auto text = SignatureAsText(s);
    if (!text) return;
    texts.push_back(*text);
  }
  for (int n = 1; n <= 99; ++n) store.DeleteValue(key, SignatureValueName(n));
  for (size_t n = 0; n < texts.size(); ++n) store.SetString(key, SignatureValueName(int(n + 1)), texts[n]);
}

int CFileSignatureDatabase::SaveAll(CRegistryStore& store) {
  for (const auto& type : types_) SaveRecord(store, *type);
  return store.Save() ? 1 : 0;
}

int CFileSignatureDatabase::SaveAll() { return SaveAll(store_ ? *store_ : CRegistryStore::User()); }

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

const CFileType* CFileSignatureDatabase::FindByExtension(const std::string& extension) const {
  std::string ext = TrimExtension(extension);
  if (ext.empty()) return nullptr;
  auto it = extensions_.find(Upper(ext));
  return it == extensions_.end() ? nullptr : it->second;
}

const CFileType* CFileSignatureDatabase::FindTypeForObject(const CFoundObject& object) const {
  if (object.FileType != 0)
    if (const CFileType* type = FindById(object.FileType)) return type;
  if (object.Name.empty()) return nullptr;
  std::string ext = NameExtension(object.Name);
  if (ext.empty()) return nullptr;
  auto it = extensions_.find(Upper(ext));
  return it == extensions_.end() ? nullptr : it->second;
}

const CFileType* CFileSignatureDatabase::FindTypeForObject(CFoundObject& object) const {
  const CFileType* type = FindTypeForObject(static_cast<const CFoundObject&>(object));
  if (type && object.FileType != type->Id) object.FileType = static_cast<int16_t>(type->Id);
  return type;
}

const CFileTypeGroup* CFileSignatureDatabase::FindGroup(int64_t id) const {
  for (const auto& g : groups_)
    if (g.Id == id) return &g;
  return nullptr;
}

std::string CFileSignatureDatabase::FirstExtensionOf(const std::string& fileExtensions) {
  size_t cut = fileExtensions.find_first_of(";,");
  std::string first = TrimExtension(fileExtensions.substr(0, cut));
  if (first.size() > 99) first.resize(99);
  return first;
}

std::string CFileSignatureDatabase::FirstExtension(int32_t id) const {
  const CFileType* type = FindById(id);
  return type ? FirstExtensionOf(type->FileExtensions) : std::string();
}

bool CFileSignatureDatabase::MatchSector(const CFileType& type, const uint8_t* sector, size_t available) {
  for (const auto& signature : type.Signatures)
    if (SignatureHolds(signature, sector, available)) return true;
  return false;
}

void CFileSignatureDatabase::MatchSector(const uint8_t* sector512, std::vector<const CFileType*>& matches) const {
  const CSignatureMatcher* matcher = matcher_.load(std::memory_order_acquire);
  if (matcher) matcher->Match(sector512, matches);
}

void CFileSignatureDatabase::SetSearchEnable(CFileType& type, bool enable) {
  __atomic_store_n(&type.SearchEnable, enable ? 1u : 0u, __ATOMIC_RELAXED);
}

uint32_t CFileSignatureDatabase::GetSearchEnable(const CFileType& type) {
  return __atomic_load_n(&type.SearchEnable, __ATOMIC_RELAXED);
}

CFileType& CFileSignatureDatabase::AddTypeForTest(CFileType type) {
  type.FirstExtension = FirstExtensionOf(type.FileExtensions);
  types_.push_back(std::make_unique<CFileType>(std::move(type)));
  Rebuild();
  return *types_.back();
}

// ---------------------------------------------------------------------------
// Signature files.
//
// Numeric part (1436 bytes, little-endian): 0 id, 4 group identity, 8
// SearchEnable, 12 View, 16 ShowFilesThisType, 20 is group, 24/28/32
// reserved, 36 DefaultSize, 40/44 reserved, 48 SearchOrder, 52 1380 reserved
// bytes, 1432 element count. Then per signature a 20-byte header (0
// reserved, 4 total size with the header, 8 reserved, 16 condition count)
// and its conditions: 0 kind, 4 size, 8 offset, 12 repeat, 14 data length,
// 16 reserved, 32 data.
//
// Masks: a pattern/mask condition (kinds 0x10000, 0x20000) with n pattern
// bytes in use is written with its data length n and its n pattern bytes
// followed by its n mask bytes, so its size is 32 + 2n (a length of 0, "the
// whole sector", is written as n = 512). A reader walks conditions by their
// size field, so this stays readable as a sequence; on reading, a size of
// 32 + 2n gives pattern and mask, while a size of 32 + n (a writer that
// carries no mask) gives the n pattern bytes with every byte selected.
// Conditions of the other kinds carry their data as it is in memory.

std::vector<uint8_t> CFileSignatureDatabase::PackType(const CFileType& t) {
  std::vector<uint8_t> out(FILETYPE_PACKED_BYTES, 0);
  PutU32(out, 0, static_cast<uint32_t>(t.Id));
  PutU32(out, 4, static_cast<uint32_t>(static_cast<int32_t>(t.GroupId)));
  PutU32(out, 8, GetSearchEnable(t));
  PutU32(out, 12, t.View);
  PutU32(out, 16, t.ShowFilesThisType);
  PutU32(out, 20, t.IsGroup);
  PutU32(out, 24, static_cast<uint32_t>(t.Reserved24));
  PutU32(out, 28, t.Reserved28);
  PutU32(out, 32, t.Reserved32);
  PutU32(out, 36, t.DefaultSize);
  PutU32(out, 40, t.Reserved40);
  PutU32(out, 44, t.Reserved44);
  PutU32(out, 48, t.SearchOrder);
  PutU32(out, 1432, static_cast<uint32_t>(t.Signatures.size()));
  for (const auto& s : t.Signatures) {
    size_t head = out.size();
    out.resize(head + SIGNATURE_PACKED_HEADER, 0);
    PutU32(out, head + 16, static_cast<uint32_t>(s.Conditions.size()));
    for (const auto& c : s.Conditions) {
      std::vector<uint8_t> data;
      uint16_t length = c.DataLength;
      if (c.IsMasked() && c.Data.size() == SIG_MASKED_DATA_BYTES) {
        size_t n = c.MaskedLength();
        length = static_cast<uint16_t>(n);
        data.assign(c.Pattern(), c.Pattern() + n);
        data.insert(data.end(), c.Mask(), c.Mask() + n);
      } else {
        data = c.Data;
      }
      size_t at = out.size();
      out.resize(at + SIG_CONDITION_HEADER, 0);
      PutU32(out, at, c.Kind);
      PutU32(out, at + 4, static_cast<uint32_t>(SIG_CONDITION_HEADER + data.size()));
      PutU32(out, at + 8, static_cast<uint32_t>(c.Offset));
      PutU16(out, at + 12, c.Repeat);
      PutU16(out, at + 14, length);
      out.insert(out.end(), data.begin(), data.end());
    }
    PutU32(out, head + 4, static_cast<uint32_t>(out.size() - head));
  }
  return out;
}

std::unique_ptr<CFileType> CFileSignatureDatabase::UnpackType(const std::vector<uint8_t>& in) {
  if (in.size() < FILETYPE_PACKED_BYTES) return nullptr;
  auto t = std::make_unique<CFileType>();
  t->Id = static_cast<int32_t>(GetU32(in, 0));
  t->GroupId = static_cast<int32_t>(GetU32(in, 4));
  t->SearchEnable = GetU32(in, 8);
  t->View = GetU32(in, 12);
  t->ShowFilesThisType = GetU32(in, 16);
  t->IsGroup = GetU32(in, 20);
  t->Reserved24 = static_cast<int32_t>(GetU32(in, 24));
  t->Reserved28 = GetU32(in, 28);
  t->Reserved32 = GetU32(in, 32);
  t->DefaultSize = GetU32(in, 36);
  t->Reserved40 = GetU32(in, 40);
  t->Reserved44 = GetU32(in, 44);
  t->SearchOrder = GetU32(in, 48);
  uint32_t count = GetU32(in, 1432);
  size_t pos = FILETYPE_PACKED_BYTES;
  // Every field is checked against the image; the first malformed part ends
  // the reading and what was read before it stays.
  for (uint32_t e = 0; e < count && e < 99; ++e) {
    if (in.size() - pos < SIGNATURE_PACKED_HEADER) break;
    uint32_t total = GetU32(in, pos + 4);
    if (total < SIGNATURE_PACKED_HEADER || total > in.size() - pos) break;
    uint32_t conditions = GetU32(in, pos + 16);
    size_t end = pos + total;
    size_t at = pos + SIGNATURE_PACKED_HEADER;
    CSignature signature;
    bool broken = false;
    for (uint32_t k = 0; k < conditions; ++k) {
      if (k == SIG_MAX_CONDITIONS) break;  // too many: the check below leaves it out
      if (end - at < SIG_CONDITION_HEADER) { broken = true; break; }
      uint32_t size = GetU32(in, at + 4);
      if (size < SIG_CONDITION_HEADER || size > end - at) { broken = true; break; }
      CSignatureCondition c;
      c.Kind = GetU32(in, at);
      c.Offset = static_cast<int32_t>(GetU32(in, at + 8));
      c.Repeat = GetU16(in, at + 12);
      c.DataLength = GetU16(in, at + 14);
      const uint8_t* data = in.data() + at + SIG_CONDITION_HEADER;
      size_t bytes = size - SIG_CONDITION_HEADER;
      if (c.IsMasked()) {
        size_t n = c.DataLength;
        if (n > SIG_SECTOR_BYTES) { broken = true; break; }
        std::vector<uint8_t> mask(n, 0xFF);
        if (bytes == 2 * n && n != 0) std::memcpy(mask.data(), data + n, n);
        else if (bytes != n) { broken = true; break; }
        c = CSignatureCondition::Masked(c.Kind, c.Offset, data, mask.data(), n);
        c.Repeat = GetU16(in, at + 12);
      } else {
        c.Data.assign(data, data + bytes);
      }
      signature.Conditions.push_back(std::move(c));
      at += size;
    }
    // A signature without conditions would hold for every sector; one beyond
    // the bounds (too many conditions, or needing more than a sector) is
    // left out whole, since a part of it would match more than it should.
    if (!broken && conditions <= SIG_MAX_CONDITIONS && SignatureWithinBounds(signature))
      t->Signatures.push_back(std::move(signature));
    if (broken) break;
    pos = end;
  }
  return t;
}

int CFileSignatureDatabase::ExportSignatureFile(const CFileType& type, const std::string& path) {
  std::vector<uint8_t> image = PackType(type);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return 0;
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.flush();
  return out.good() ? 1 : 0;
}

CFileType* CFileSignatureDatabase::ImportSignatureFile(const std::string& pathIn, std::string* message) {
  std::string path = pathIn;
  if (!path.empty() && path.front() == '"') path.erase(0, 1);
  if (!path.empty() && path.back() == '"') path.pop_back();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (message) *message = qm::Format("Signature file '%s' can't open!", path);
    return nullptr;
  }
  // A signature file is small; anything beyond a few megabytes is not one.
  constexpr size_t kMaxFile = 4u << 20;
  std::vector<uint8_t> image;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    image.insert(image.end(), buf, buf + in.gcount());
    if (image.size() > kMaxFile) break;
  }
  std::unique_ptr<CFileType> record = image.size() <= kMaxFile ? UnpackType(image) : nullptr;
  if (!record || record->IsGroup) {
    if (message) *message = qm::Format("Signature file '%s' is not valid!", path);
    return nullptr;
  }
  CFileType* result = FindById(record->Id);
  if (result) {
    // The numbers of the file replace the type's; its group stays (a group
    // identity is only valid in the process that made it), and the file's
    // signatures replace the type's, which is what updating a signature
    // file is for.
    SetSearchEnable(*result, record->SearchEnable != 0);
    result->View = record->View;
    result->ShowFilesThisType = record->ShowFilesThisType;
    result->Reserved24 = record->Reserved24;
    result->Reserved28 = record->Reserved28;
    result->Reserved32 = record->Reserved32;
    result->DefaultSize = record->DefaultSize;
    result->Reserved40 = record->Reserved40;
    result->Reserved44 = record->Reserved44;
    result->SearchOrder = record->SearchOrder;
    if (!record->Signatures.empty()) result->Signatures = std::move(record->Signatures);
    if (message) *message = qm::Format("Signature file '%s' updated!", path);
  } else {
    record->SearchEnable = record->SearchEnable ? 1 : 0;
    types_.push_back(std::move(record));
    result = types_.back().get();
    if (message) *message = qm::Format("Signature file '%s' added!", path);
  }
  Rebuild();
  SaveAll();
  return result;
}

// ---------------------------------------------------------------------------
// Start-up.

std::string FindShippedSignatureFile() {
  std::vector<std::string> candidates;
  std::string exe = ExecutableDir();
  if (!exe.empty()) {
    candidates.push_back(exe + "/data/signatures.reg");
    candidates.push_back(exe + "/../data/signatures.reg");
    candidates.push_back(exe + "/../share/quillmore/signatures.reg");
  }
  // The source tree this file was built from.
  std::string self = __FILE__;
  const std::string tail = "engine/scanner/file_signature_database.cpp";
  if (self.size() > tail.size() && self.compare(self.size() - tail.size(), tail.size(), tail) == 0)
    candidates.push_back(self.substr(0, self.size() - tail.size()) + "data/signatures.reg");
  for (const auto& c : candidates)
    if (FileExists(c)) return c;
  return {};
}

bool InstallShippedSignatures(CRegistryStore& store, const std::string& shippedPath) {
  if (store.KeyExists(SIGNATURES_KEY)) return true;
  if (shippedPath.empty()) return false;
  std::ifstream in(shippedPath, std::ios::binary);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!store.ImportText(text)) return false;
  store.Save();
  return store.KeyExists(SIGNATURES_KEY);
}

void LoadSignatureDatabase() {
  CRegistryStore& store = CRegistryStore::User();
  if (!store.KeyExists(SIGNATURES_KEY)) {
    std::string shipped = FindShippedSignatureFile();
    if (shipped.empty() || !InstallShippedSignatures(store, shipped))
      theLog().Error("The file-type signature database was not found (data/signatures.reg).");
  }
  theComputer().Signatures().Load(store);
}
