// The compiled form of the signature database for the sector scan.
//
// Every signature is reduced to the bytes it fixes at known positions of the
// sector (from byte, word, string and pattern/mask conditions) plus the rest
// of its conditions. One fixed byte of each signature is its anchor; the
// anchors of all signatures are gathered on as few sector offsets as
// possible, and for each such offset a 256-entry table lists the signatures
// whose anchor has that byte value. A sector is then tested with one table
// look-up per anchor offset (a dozen or so for the shipped set, whatever the
// number of types), and only the few signatures listed under its bytes are
// tested in full. Signatures without any fixed byte are tested on every
// sector.
//
// Results are those of testing every type's signatures in list order with
// 512 bytes available; matched types come out in list order, each once.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/scanner/signature_condition.h"

struct CFileType;

class CSignatureMatcher {
public:
  // The types, in the database's list order. The matcher keeps copies of
  // their signatures and pointers to the records (for the results and for
  // their SearchEnable switch, which is read at every test).
  explicit CSignatureMatcher(const std::vector<CFileType*>& types);

  // Appends to `matches` the enabled types that match the 512 bytes at
  // `sector512`. Immutable after construction: any number of threads may
  // call it at once.
  void Match(const uint8_t* sector512, std::vector<const CFileType*>& matches) const;

  // How many sector offsets a sector is dispatched on (for tests and the
  // benchmark).
  size_t DispatchOffsetCount() const { return dispatch_.size(); }

private:
  struct FixedByte {
    uint16_t Offset;
    uint8_t Value;
  };
  struct Compiled {
    uint32_t TypeIndex;
    std::vector<FixedByte> Fixed;                // every byte the signature fixes
    std::vector<CSignatureCondition> Residual;   // conditions not reduced to fixed bytes
  };
  // A signature listed under its anchor byte, with a second byte it fixes
  // (the anchor itself when it fixes only one), so most candidates are
  // turned down without leaving the table.
  struct Entry {
    uint32_t Index;  // into compiled_
    uint16_t CheckOffset;
    uint8_t CheckValue;
  };
  struct Dispatch {
    uint16_t Offset;
    // A second offset that most of the entries fix, and a bit set for each
    // pair (byte at Offset, byte at PairOffset) that some entry can match,
    // folded into 8192 bits (PairKey) so that all the tables stay in the
    // first-level cache: on random or ordinary data nearly every sector is
    // turned down by this one bit test, a branch the processor then predicts.
    uint16_t PairOffset;
    std::array<uint64_t, 8192 / 64> Pairs;
    std::array<uint32_t, 257> Start;  // entries for byte b: Entries[Start[b] .. Start[b+1])
    std::vector<Entry> Entries;
  };

  static size_t PairKey(uint8_t anchor, uint8_t second) { return static_cast<size_t>(anchor) << 5 ^ second; }
  bool Test(const Compiled& c, const uint8_t* sector) const;

  std::vector<const CFileType*> types_;
  std::vector<Compiled> compiled_;
  std::vector<Dispatch> dispatch_;
  std::vector<uint32_t> always_;  // compiled_ indices tested on every sector
};
