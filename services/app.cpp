#include "services/app.h"

#include <cstring>

CApp::CApp() {
  std::memset(&Settings, 0, sizeof Settings);
  Settings.WindowPlacementHead[0] = 44;
}

CApp& theApp() {
  static CApp app;
  return app;
}
