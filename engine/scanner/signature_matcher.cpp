#include "engine/scanner/signature_matcher.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "engine/scanner/file_signature_database.h"

namespace {

bool Distinctive(uint8_t v) { return v != 0x00 && v != 0xFF && v != 0x20; }

uint64_t LoadLE(const uint8_t* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v |= uint64_t(p[i]) << (8 * i);
  return v;
}

// Adds the bytes a condition fixes to `fixed`. Returns false when the
// condition cannot be reduced to fixed bytes (it is then tested as it
// stands). `impossible` is set when the condition can never hold in 512
// bytes.
bool Reduce(const CSignatureCondition& c, std::map<uint16_t, uint8_t>& fixed, bool& impossible) {
  auto put = [&](size_t offset, uint8_t value) {
    auto [it, inserted] = fixed.emplace(static_cast<uint16_t>(offset), value);
    if (!inserted && it->second != value) impossible = true;
  };
  if (c.Offset < 0) return false;
  size_t offset = static_cast<size_t>(c.Offset);
  switch (c.Kind) {
    case SIGCOND_BYTE:
    case SIGCOND_WORD:
    case SIGCOND_DWORD:
    case SIGCOND_QWORD: {
      size_t width = c.Kind;
      if (c.Data.size() < width) return false;
      if (offset + width + c.Repeat > SIG_SECTOR_BYTES) { impossible = true; return true; }
      uint64_t v = LoadLE(c.Data.data(), width);
      for (size_t i = 0; i <= c.Repeat; ++i)
        for (size_t k = 0; k < width; ++k) put(offset + i + k, static_cast<uint8_t>(v >> (8 * k)));
      return true;
    }
    case SIGCOND_BYTE_RANGE:
      if (c.Data.size() < 2 || c.Data[0] != c.Data[1]) return false;
      if (offset + 1 + c.Repeat > SIG_SECTOR_BYTES) { impossible = true; return true; }
      for (size_t i = 0; i <= c.Repeat; ++i) put(offset + i, c.Data[0]);
      return true;
    case SIGCOND_STRING: {
      size_t n = c.DataLength;
      if (c.Data.size() < n) return false;
      if (offset + n + c.Repeat > SIG_SECTOR_BYTES) { impossible = true; return true; }
      for (size_t i = 0; i <= c.Repeat; ++i)
        for (size_t k = 0; k < n; ++k) put(offset + i + k, c.Data[k]);
      return true;
    }
    case SIGCOND_MASKED: {
      if (c.Data.size() != SIG_MASKED_DATA_BYTES) return false;
      size_t n = c.MaskedLength();
      if (offset + n + c.Repeat > SIG_SECTOR_BYTES) { impossible = true; return true; }
      for (size_t i = 0; i <= c.Repeat; ++i)
        for (size_t j = 0; j < n; ++j)
          if (c.Mask()[j]) put(offset + i + j, c.Pattern()[j]);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

CSignatureMatcher::CSignatureMatcher(const std::vector<CFileType*>& types) {
  types_.assign(types.begin(), types.end());
  for (uint32_t t = 0; t < types.size(); ++t) {
    for (const auto& signature : types[t]->Signatures) {
      // Signatures beyond the bounds are never tested, so that no database
      // can make the test of a sector costly.
      if (!SignatureWithinBounds(signature)) continue;
      std::map<uint16_t, uint8_t> fixed;
      bool impossible = false;
      Compiled compiled{t, {}, {}};
      for (const auto& c : signature.Conditions) {
        if (!Reduce(c, fixed, impossible)) compiled.Residual.push_back(c);
        if (impossible) break;
      }
      if (impossible) continue;  // can never hold in a 512-byte sector
      for (auto [offset, value] : fixed) compiled.Fixed.push_back({offset, value});
      compiled_.push_back(std::move(compiled));
    }
  }

  // Choose the anchor offsets: greedily the offset that the most signatures
  // not yet placed fix to a distinctive byte (not 0x00, 0xFF or a blank,
  // which fill so much of real disks), then any fixed byte.
  // (Scores by sector offset in a plain array: the database is compiled at
  // every start.)
  std::vector<std::optional<uint16_t>> anchor(compiled_.size());
  for (int pass = 0; pass < 2; ++pass) {
    for (;;) {
      std::array<size_t, SIG_SECTOR_BYTES> score{};
      for (size_t i = 0; i < compiled_.size(); ++i) {
        if (anchor[i]) continue;
        for (const auto& f : compiled_[i].Fixed)
          if (pass == 1 || Distinctive(f.Value)) ++score[f.Offset];
      }
      // The lowest offset among the best, as the ordered scan gave before.
      const auto best = std::max_element(score.begin(), score.end());
      if (*best == 0) break;
      const auto offset = static_cast<uint16_t>(best - score.begin());
      for (size_t i = 0; i < compiled_.size(); ++i) {
        if (anchor[i]) continue;
        for (const auto& f : compiled_[i].Fixed)
          if (f.Offset == offset && (pass == 1 || Distinctive(f.Value))) anchor[i] = offset;
      }
    }
  }

  std::map<uint16_t, std::vector<std::vector<uint32_t>>> tables;
  for (uint32_t i = 0; i < compiled_.size(); ++i) {
    if (!anchor[i]) {
      always_.push_back(i);
      continue;
    }
    auto& table = tables[*anchor[i]];
    if (table.empty()) table.resize(256);
    uint8_t value = 0;
    for (const auto& f : compiled_[i].Fixed)
      if (f.Offset == *anchor[i]) value = f.Value;
    table[value].push_back(i);
    // Test the anchor first, then the other fixed bytes in offset order.
    auto& fixed = compiled_[i].Fixed;
    std::stable_partition(fixed.begin(), fixed.end(), [&](const FixedByte& f) { return f.Offset == *anchor[i]; });
  }
  for (auto& [offset, table] : tables) {
    Dispatch d;
    d.Offset = offset;
    // The second offset: the one most entries fix besides the anchor.
    std::map<uint16_t, size_t> fixing;
    for (const auto& entries : table)
      for (uint32_t e : entries)
        for (const auto& f : compiled_[e].Fixed)
          if (f.Offset != offset) ++fixing[f.Offset];
    d.PairOffset = offset;
    size_t most = 0;
    for (auto [second, count] : fixing)
      if (count > most) most = count, d.PairOffset = second;
    d.Pairs.fill(0);
    for (size_t b = 0; b < 256; ++b)
      for (uint32_t e : table[b]) {
        const FixedByte* second = nullptr;
        for (const auto& f : compiled_[e].Fixed)
          if (f.Offset == d.PairOffset) second = &f;
        for (size_t v = 0; v < 256; ++v)
          if (!second || second->Value == v || d.PairOffset == offset) {
            const size_t key = PairKey(static_cast<uint8_t>(b), static_cast<uint8_t>(v));
            d.Pairs[key / 64] |= 1ull << (key % 64);
          }
      }
    uint32_t n = 0;
    for (size_t b = 0; b < 256; ++b) {
      d.Start[b] = n;
      for (uint32_t e : table[b]) {
        // The anchor is Fixed[0]; check a distinctive second byte if there is one.
        const auto& fixed = compiled_[e].Fixed;
        FixedByte check = fixed[0];
        for (size_t k = 1; k < fixed.size(); ++k)
          if (k == 1 || (Distinctive(fixed[k].Value) && !Distinctive(check.Value))) check = fixed[k];
        d.Entries.push_back({e, check.Offset, check.Value});
      }
      n = static_cast<uint32_t>(d.Entries.size());
    }
    d.Start[256] = n;
    dispatch_.push_back(std::move(d));
  }
}

bool CSignatureMatcher::Test(const Compiled& c, const uint8_t* sector) const {
  for (const auto& f : c.Fixed)
    if (sector[f.Offset] != f.Value) return false;
  for (const auto& condition : c.Residual)
    if (!ConditionHolds(condition, sector, SIG_SECTOR_BYTES)) return false;
  return true;
}

void CSignatureMatcher::Match(const uint8_t* sector512, std::vector<const CFileType*>& matches) const {
  // Matched type indices; rarely more than one or two.
  uint32_t local[16];
  std::vector<uint32_t> more;
  size_t count = 0;
  auto consider = [&](uint32_t index) {
    const Compiled& c = compiled_[index];
    for (size_t k = 0; k < count; ++k)
      if ((k < 16 ? local[k] : more[k - 16]) == c.TypeIndex) return;
    if (!Test(c, sector512)) return;
    // The switch is read last: most candidates fail their bytes first.
    if (!__atomic_load_n(&types_[c.TypeIndex]->SearchEnable, __ATOMIC_RELAXED)) return;
    if (count < 16) local[count] = c.TypeIndex;
    else more.push_back(c.TypeIndex);
    ++count;
  };
  for (const auto& d : dispatch_) {
    const uint8_t b = sector512[d.Offset];
    const size_t key = PairKey(b, sector512[d.PairOffset]);
    if (!(d.Pairs[key / 64] >> (key % 64) & 1)) [[likely]]
      continue;
    for (uint32_t e = d.Start[b], end = d.Start[b + 1]; e < end; ++e) {
      const Entry& entry = d.Entries[e];
      if (sector512[entry.CheckOffset] == entry.CheckValue) consider(entry.Index);
    }
  }
  for (uint32_t e : always_) consider(e);
  if (count == 0) return;
  std::vector<uint32_t> found(local, local + std::min<size_t>(count, 16));
  found.insert(found.end(), more.begin(), more.end());
  std::sort(found.begin(), found.end());
  for (uint32_t t : found) matches.push_back(types_[t]);
}
