// The file-system phase of an analysis: the catalog is emptied, the parser
// for the volume's file system walks its metadata, and every object it
// reports goes to the catalog through AddFileSystemObject.
#include <chrono>
#include <memory>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/filesystems/file_system_factory.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "services/strings.h"

uint32_t CVolume::AnalyseFileSystem(bool addBootObject) {
  FoldersFound = 0;
  FilesFound = 0;
  const auto start = std::chrono::steady_clock::now();
  Position(0);
  // A phase run on its own (the file-system command, the command line) takes
  // the running flag and gives it back at its end; inside a full analysis the
  // queue holds the flag and FinishAnalysis releases it. A flag left at 1
  // would make every later StartAnalysis only queue.
  const bool tookRunningFlag = theApp().AnalysisRunning.exchange(1) == 0;
  State = StateAnalysingFileSystem;
  theLog().SendStatusText(57211, 0);
  theLog().AddMessage("Beginning file system analysis.");

  CFoundObjectTree& catalog = Catalog();
  catalog.Clear(this);
  catalog.Insert(this, true);
  // Made after the catalog is emptied, so that it survives the phase.
  if (addBootObject) InsertBootObject();
  // The volumes found in this one stay its objects (the volume list owns them).
  for (CVolume* child : ChildVolumes())
    if (child->Kind == VolumeFound) catalog.Insert(child, false);

  const uint32_t id = FileSystem().FileSystemType;
  if (auto parser = CreateFileSystemParser(id, this)) {
    SetFileSystem(std::move(parser));
    CFoundObject& root = catalog.Root();
    root.ObjectID = FileSystem().RootObjectID();
    root.ParentID = ObjectID;
    catalog.Insert(&root, true);
    try {
      FileSystem().Analyse();
    } catch (...) {
      theLog().AddError("AnalyseFileSystem.except: Analyse");
    }
  } else {
    theLog().AddMessage("No file system detected! File system analysis skipped.");
  }

  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  if (IMessageTarget* window = theApp().MainWindow.load()) window->PostMessage(WM_FS_ANALYSIS_DONE, 0, 0);
  State = StateReady;
  ChangedFlag = 0;
  if (tookRunningFlag) theApp().AnalysisRunning = 0;
  theLog().Message(GetString(135), static_cast<int64_t>(elapsed / 60000), static_cast<int64_t>((elapsed / 1000) % 60));
  theLog().Message(GetString(136), FoldersFound.load(), FilesFound.load());
  return 0;
}

void CVolume::InsertBootObject() {
  // The first two sectors of the volume, as a copy of its own record.
  auto boot = std::make_unique<CFoundObject>(static_cast<const CFoundObject&>(*this));
  boot->Name.clear();
  boot->Flags &= static_cast<uint16_t>(~(FOF_NAMED | FOF_OWNS_NAME));
  boot->SetName("BOOT");
  boot->Size = 1024;
  Catalog().Insert(boot.release(), true);
}

CFoundObject* CVolume::AddFileSystemObject(const CFoundObject& record) {
  CFoundObject* object = Catalog().AddObject(record);
  if (!object) return nullptr;
  object->Volume = this;
  ChangedFlag = 1;
  if (object->Flags & FOF_FOLDER) {
    ++FoldersFound;
  } else {
    ++FilesFound;
  }
  return object;
}
