// quillmore-cli image SOURCE --to FILE: copies a drive (or image) sector for
// sector into an image file, optionally going on past unreadable sectors.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
#include "engine/volume/image_job.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/format.h"

namespace qmcli {
namespace {

constexpr const char* kUsage = "image SOURCE --to FILE [--continue-on-errors] [--resume] [--force]";

int RunImage(const std::vector<std::string>& args) {
  CommandLine cl;
  if (!ParseCommandLine("image", kUsage, args, {"--continue-on-errors", "--resume", "--force"}, {"--to"}, cl))
    return EXIT_USAGE;
  const std::string* target = cl.Value("--to");
  if (!target || target->empty()) {
    return ReportUsage("image", "no image file given (--to FILE)");
  }
  CVolume* source = StartAndOpenSource(cl.source);
  if (!source) return EXIT_FAILED;

  ImageJob job;
  job.Source = source;
  job.TargetPath = *target;
  job.ContinueOnErrors = cl.Has("--continue-on-errors");
  job.Resume = cl.Has("--resume");
  job.OverwriteConfirmed = cl.Has("--force");
  if (theComputer().CreateImage(job) != 0) {
    std::string hint;
    if (!job.Resume && !job.OverwriteConfirmed && job.Reason.find("exists already") != std::string::npos)
      hint = " (--force replaces it, --resume goes on from its map)";
    return ReportError(job.Reason + hint);
  }

  InstallInterruptHandler();
  CProgressBar bar;
  bool cancelled = false;
  while (job.Outcome.load() == ImageOutcome::NotStarted || job.Outcome.load() == ImageOutcome::Running) {
    if (InterruptRequested() && !cancelled) {
      cancelled = true;
      job.Running = 0;
      bar.Finish();
      ReportNote("stopping after the block being copied...");
    }
    if (!cancelled) {
      const uint64_t bad = job.UnreadableBytes.load();
      const std::string label =
          bad ? qm::Format("Imaging, %I64d bytes unreadable", bad) : std::string("Imaging");
      bar.Update(job.Current.load(), job.Total.load(), job.BytesCopied.load(), label);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  job.Wait();
  bar.Finish();

  const ImageOutcome outcome = job.Outcome.load();
  const std::string summary = ImageSummary(job);
  if (outcome == ImageOutcome::Complete) {
    std::printf("%s.\n", summary.c_str());
    return EXIT_OK;
  }
  std::string why = summary + ".";
  if (outcome == ImageOutcome::ReadFailed)
    why += "\n--continue-on-errors copies past unreadable sectors.";
  else if (outcome == ImageOutcome::Cancelled && (job.ContinueOnErrors || job.Resume))
    why += "\n--resume goes on from " + Quoted(job.MapPath()) + ".";
  return ReportError(why);
}

constexpr const char* kHelpText =
    R"(Copies SOURCE (a drive, a partition or an image) sector for sector into an
image file, which every other command then reads in its place: work on the
copy, not on a failing drive. A map file beside the image (FILE.map, in GNU
ddrescue's mapfile form) records which parts were copied and which could
not be read.

Options:
  --to FILE              the image file to write (required)
  --continue-on-errors   copy past sectors that cannot be read (they are
                         written as zeros and marked in the map)
  --resume               go on from the map of an earlier, stopped run
  --force                replace FILE when it exists

Exit status: 0 the image is complete; 1 it is not (stopped, unreadable
sectors without --continue-on-errors) or an error; 2 bad usage.
)";

const CliCommandRegistrar kRegistrar({"image", kUsage,
                                      "copy a drive or image sector for sector into an image file", RunImage,
                                      kHelpText});

}  // namespace
}  // namespace qmcli
