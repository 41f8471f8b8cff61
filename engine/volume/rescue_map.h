// Which bytes of an image have been copied, which could not be read and
// which are still to do, kept in the mapfile format of GNU ddrescue so that
// its tools (ddrescuelog, ddrescueview) read what an imaging run left behind
// and an interrupted run can go on where it stopped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CRescueMap {
public:
  // The mapfile's status characters for a range.
  static constexpr char kNotTried = '?';
  static constexpr char kBad = '-';
  static constexpr char kFinished = '+';

  struct Range {
    uint64_t pos = 0;
    uint64_t size = 0;
    char status = kNotTried;
  };

  // A map of `bytes` bytes, all not tried yet.
  explicit CRescueMap(uint64_t bytes = 0);

  uint64_t Size() const { return size_; }
  const std::vector<Range>& Ranges() const { return ranges_; }
  // Marks [pos, pos + size) (cut to the map) with `status`, merging it with
  // neighbours of the same status.
  void Mark(uint64_t pos, uint64_t size, char status);
  // The bytes with the status.
  uint64_t Count(char status) const;
  // The first range at or after `pos` that has the status; false if none.
  bool NextRange(uint64_t pos, char status, Range& out) const;

  // The mapfile text; `finished` ends the run's status line with '+'.
  std::string Text(uint64_t currentPos, bool finished) const;
  // Reads a mapfile of an image of `bytes` bytes. False with a reason when
  // the text is not a mapfile, its ranges overlap, leave gaps, or do not
  // cover exactly the image. Statuses other than finished and bad (a run
  // that was trimming or scraping) count as not tried.
  static bool Parse(const std::string& text, uint64_t bytes, CRescueMap& out, std::string* reason);

  // Writes the map beside the image safely (a new file renamed over the old
  // one); false when it cannot.
  bool Save(const std::string& path, uint64_t currentPos, bool finished) const;
  static bool Load(const std::string& path, uint64_t bytes, CRescueMap& out, std::string* reason);

private:
  uint64_t size_ = 0;
  std::vector<Range> ranges_;  // in order, without gaps, covering [0, size_)
};
