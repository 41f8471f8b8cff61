// The sector analyser of one volume: scans every sector for file signatures.
#pragma once

#include <cstdint>

class CVolume;

class CAnalyser {
public:
  explicit CAnalyser(CVolume* volume) : volume_(volume) {}
  virtual ~CAnalyser() = default;

protected:
  CVolume* volume_;
};
