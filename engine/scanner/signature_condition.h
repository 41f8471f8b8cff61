// Signatures of file types: conditions on the bytes of a sector, the
// registry's text form of a signature, and the test of one signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Condition kinds. The numbers are part of the signature-file format.
constexpr uint32_t SIGCOND_BYTE = 1;             // 1 byte v
constexpr uint32_t SIGCOND_WORD = 2;             // u16 v
constexpr uint32_t SIGCOND_DWORD = 4;            // u32 v
constexpr uint32_t SIGCOND_QWORD = 8;            // u64 v
constexpr uint32_t SIGCOND_BYTE_RANGE = 16;      // bytes min, max
constexpr uint32_t SIGCOND_WORD_RANGE = 32;      // u16 min, u16 max
constexpr uint32_t SIGCOND_STRING = 256;         // n bytes at the offset
constexpr uint32_t SIGCOND_FIND = 0x1000;        // n bytes anywhere in the sector
constexpr uint32_t SIGCOND_FIND_NOCASE = 0x2000; // the same, ASCII letter case folded
constexpr uint32_t SIGCOND_MASKED = 0x10000;     // pattern/mask: masked bytes equal
constexpr uint32_t SIGCOND_MASKED_CLEAR = 0x20000;  // pattern/mask: selected bits clear

constexpr size_t SIG_SECTOR_BYTES = 512;
// The in-memory data of the two pattern/mask kinds: 512 pattern bytes, then
// 512 mask bytes.
constexpr size_t SIG_MASKED_DATA_BYTES = 1024;
// Size of a condition's fixed header in the packed image.
constexpr uint32_t SIG_CONDITION_HEADER = 32;

struct CSignatureCondition {
  uint32_t Kind = 0;
  int32_t Offset = 0;       // in the sector; -1 = any position
  uint16_t Repeat = 0;      // the comparison is made at Repeat + 1 successive positions
  uint16_t DataLength = 0;  // for the pattern/mask kinds: pattern bytes in use (0 = all)
  std::vector<uint8_t> Data;

  bool IsMasked() const { return Kind == SIGCOND_MASKED || Kind == SIGCOND_MASKED_CLEAR; }
  // Pattern bytes a pattern/mask condition compares: DataLength, where 0 (and
  // anything above a sector) means the whole 512.
  size_t MaskedLength() const;
  const uint8_t* Pattern() const { return Data.data(); }
  const uint8_t* Mask() const { return Data.data() + SIG_SECTOR_BYTES; }

  // A pattern/mask condition with 1024 data bytes.
  static CSignatureCondition Masked(uint32_t kind, int32_t offset, const uint8_t* pattern, const uint8_t* mask,
                                    size_t length);
  bool operator==(const CSignatureCondition&) const = default;
};

// One alternative of a file type: all of its conditions must hold.
struct CSignature {
  std::vector<CSignatureCondition> Conditions;
  // The registry text the signature was compiled from; empty for signatures
  // that came from a signature file.
  std::string Text;
};

// Compiles a signature value of the registry ("0='PK',2=#3,3=$04") into one
// pattern/mask condition at offset 0. Nothing when the text is empty, and
// also nothing when no item of the text selects a byte: such a signature would
// hold for every sector and turn a whole disk into lost files.
std::optional<CSignature> CompileSignatureText(std::string_view text);

// The bytes a condition needs from its position onwards (including repeats).
size_t ConditionSpan(const CSignatureCondition& condition);

// What one signature may hold. Real formats need a handful of conditions;
// the bounds keep the cost of testing a sector small whatever a signature
// file or the store brings.
constexpr size_t SIG_MAX_CONDITIONS = 16;
// True when the signature has 1 to SIG_MAX_CONDITIONS conditions, each with
// at most SIG_MASKED_DATA_BYTES of data and needing no more than a sector.
bool SignatureWithinBounds(const CSignature& signature);

// Whether the condition holds for the sector at `sector`, of which
// `available` bytes may be read. A condition never reads beyond `available`:
// one that would fails. A condition at any position (-1) holds when it holds
// at some position whose bytes lie wholly inside the first 512 (or fewer
// available) bytes. Malformed conditions (data shorter than the kind needs,
// other negative offsets) never hold; unknown kinds always hold.
bool ConditionHolds(const CSignatureCondition& condition, const uint8_t* sector, size_t available);
// All conditions in order; the first that fails ends the test.
bool SignatureHolds(const CSignature& signature, const uint8_t* sector, size_t available);
