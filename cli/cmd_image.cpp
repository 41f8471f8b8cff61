// quillmore-cli image SOURCE --to FILE: copies a drive (or image) sector for
// sector into an image file, optionally going on past unreadable sectors.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/progress.h"
#include "cli/source.h"
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
    std::fprintf(stderr, "quillmore-cli: image needs --to FILE (usage: quillmore-cli %s)\n", kUsage);
    return EXIT_USAGE;
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
    std::fprintf(stderr, "quillmore-cli: %s%s\n", job.Reason.c_str(), hint.c_str());
    return EXIT_FAILED;
  }

  InstallInterruptHandler();
  CProgressBar bar;
  bool cancelled = false;
  while (job.Outcome.load() == ImageOutcome::NotStarted || job.Outcome.load() == ImageOutcome::Running) {
    if (InterruptRequested() && !cancelled) {
      cancelled = true;
      job.Running = 0;
      bar.Finish();
      std::fprintf(stderr, "Stopping after the block being copied...\n");
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
  std::fprintf(stderr, "quillmore-cli: %s.\n", summary.c_str());
  if (outcome == ImageOutcome::ReadFailed)
    std::fprintf(stderr, "quillmore-cli: --continue-on-errors copies past unreadable sectors.\n");
  else if (outcome == ImageOutcome::Cancelled && (job.ContinueOnErrors || job.Resume))
    std::fprintf(stderr, "quillmore-cli: --resume goes on from %s.\n", job.MapPath().c_str());
  return EXIT_FAILED;
}

const CliCommandRegistrar kRegistrar({"image", kUsage,
                                      "copy a drive or image sector for sector into an image file", RunImage});

}  // namespace
}  // namespace qmcli
