// The NTFS record parser on one record: fix-up, attribute walk, run lists,
// the attributes a listing reads, and the object it fills.
#include "engine/filesystems/mft_record.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  MftRecord record;
  if (record.Load(data, size)) {
    CFoundObject object;
    record.FillObject(object);
    for (int32_t at = record.FirstAttribute(); at >= 0; at = record.NextAttribute(at)) {
      std::vector<MftRun> runs;
      record.DecodeRuns(at, runs);
    }
    for (uint64_t vcn = 0; vcn < 64; ++vcn) record.MapVcnEx(vcn);
    record.InUse();
    record.IsDirectory();
    record.BaseReference();
  }
  qmfuzz::EndInput();
  return 0;
}
