// The one application object: the settings record and the process-wide
// state that is not stored.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/message_target.h"
#include "services/settings.h"

class CApp {
public:
  CApp();
  CApp(const CApp&) = delete;
  CApp& operator=(const CApp&) = delete;

  CSettings Settings;
  // 1 while an analysis may run; clearing it asks the parsers and the scanner
  // to stop at their next test.
  std::atomic<uint32_t> AnalysisRunning{0};
  // Targets of the workers' messages; null while no front end listens.
  std::atomic<IMessageTarget*> MainWindow{nullptr};
  std::atomic<IMessageTarget*> LogWindow{nullptr};
  const std::string RegistryKey = "Software\\Quillmore\\Professional\\1.0";
};

CApp& theApp();
