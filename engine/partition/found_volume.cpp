// The one check both ways of finding volumes end in: AddFoundVolume, which
// confirms a volume known before or makes the Found volume.
//
// Settled here, beyond the check the design draws:
//  - A Found volume already made in the same parent at the same StartOffset
//    (a second walk at a later analysis, two table entries naming one start,
//    the search meeting a boot sector the walk already found) is the known
//    one: it gets FOF_CONFIRMED and no second volume is made.
//  - The record's StartOffset counts from the start of the volume that was
//    walked or searched; the new volume reads at the parent's own offset on
//    the device plus that, the parent's offset added once.
//  - The size is cut to what the parent holds, so no read is aimed past the
//    device, whatever the table entry claims.
//  - The new volume is listed before its boot sector is read, so a table
//    inside it finds its parent in the list when it is walked in turn.
//  - The new volume's record in the parent's catalog is not owned by the
//    catalog: the volume list owns the volume, and the catalog files it
//    again after each clear (AnalyseFileSystem).
#include <algorithm>
#include <memory>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/partition/boot_search.h"
#include "engine/partition/boot_sector.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"

namespace {

const char* FileSystemNameForType(uint32_t type) {
  switch (type) {
    case 1: case 17: return "FAT12";
    case 4: case 6: case 14: case 20: case 22: case 30: return "FAT16";
    case 7: return "NTFS";
    case 11: case 12: case 27: case 28: return "FAT32";
    default: return "";
  }
}

CVolume* Confirm(CVolume* volume) {
  volume->Flags |= FOF_CONFIRMED;
  return volume;
}

}  // namespace

const char* PartitionSchemeText(PartitionScheme scheme) {
  switch (scheme) {
    case PartitionScheme::MbrPrimary: return "MBR primary";
    case PartitionScheme::MbrLogical: return "MBR logical";
    case PartitionScheme::Gpt: return "GPT";
    case PartitionScheme::Search: return "found by search";
    default: return "";
  }
}

CVolume* CLocalComputer::AddFoundVolume(const CFoundObject& record, const PartitionOrigin& origin) {
  try {
    CVolume* made = nullptr;
    CVolume* parent = nullptr;
    CVolume* known = nullptr;
    uint64_t room = 0;
    {
      std::lock_guard lock(foundMutex_);
      const std::vector<CVolume*> volumes = Volumes.Snapshot();
      for (CVolume* v : volumes)
        if (v->ObjectID == record.ParentID) parent = v;
      if (!parent) return nullptr;

      if (parent->Kind == VolumePhysical) {
        for (CVolume* v : volumes)
          if (v->ParentID == parent->ObjectID && v->Layout.PartitionCount > 0 &&
              static_cast<uint64_t>(v->Layout.Entries[0].StartingOffset) == record.StartOffset)
            return Confirm(v);
      } else if (record.StartOffset == 0) {
        return Confirm(parent);  // the parent's own boot sector
      }
      for (CVolume* v : volumes)
        if (v->Kind == VolumeFound && v->ParentID == parent->ObjectID && v->StartOffset == record.StartOffset) {
          known = v;
          break;
        }

      const uint64_t parentBytes = parent->SizeInSectors() * 512;
      if (!known) {
        if (record.StartOffset >= parentBytes) return nullptr;
        room = parentBytes - record.StartOffset;
        Log.Message("Found %s volume at: %I64d", FileSystemNameForType(static_cast<uint16_t>(record.FileType)),
                    record.StartOffset);
        auto volume = std::make_unique<CVolume>(VolumeFound);
        made = volume.get();
        made->StartOffset = record.StartOffset;
        made->VolumeStartOffset = parent->VolumeStartOffset + record.StartOffset;
        made->Size = origin.SectorCount ? std::min(origin.SectorCount * 512, room) : room;
        made->TotalSectors = made->Size / 512;
        made->ParentID = parent->ObjectID;
        made->Parent = parent;
        made->ObjectID = NextVolumeId();
        made->Flags = FOF_FOUND_VOLUME;
        made->FileType = record.FileType;
        made->Volume = made;
        made->MediaType = parent->MediaType;
        made->IsBlockDevice = parent->IsBlockDevice;
        made->SourceDeviceId = parent->SourceDeviceId;
        made->Origin = origin;
        parent->AddChildVolume(made);
        Volumes.Append(std::move(volume));
      }
    }
    if (known) {
      // A table named the volume, but its own boot sector is damaged and
      // the search met the backup copy: the volume is read from the copy.
      if (origin.FromBackupBoot && known->FileSystem().FileSystemType == 0) {
        known->Origin.FromBackupBoot = true;
        known->Origin.BootSector = origin.BootSector;
        known->Analyse_Boot();
      }
      return Confirm(known);
    }

    made->Analyse_Boot();
    // A partition whose own boot sector is damaged may still carry the
    // backup copy FAT32 and NTFS keep.
    if (origin.SectorCount != 0 && made->FileSystem().FileSystemType == 0) UseBackupBootSector(*made);
    if (origin.SectorCount == 0) {
      // Found by its boot sector alone: the boot sector tells the size.
      const uint64_t own = BootSectorVolumeSectors(made->BootBuffer.data(), made->FileSystem().FileSystemType);
      if (own != 0 && own * 512 < room) made->Size = own * 512;
    }
    made->TotalSectors = made->Size / 512;
    if (made->SectorsPerCluster == 0) made->SectorsPerCluster = 1;
    made->BytesPerCluster = made->SectorsPerCluster * 512;
    made->TotalClusters = made->TotalSectors / made->SectorsPerCluster;
    parent->Catalog().Insert(made, false);
    if (IMessageTarget* target = theApp().MainWindow.load())
      target->PostMessage(WM_VOLUME_FOUND, reinterpret_cast<uintptr_t>(made), 0);
    return made;
  } catch (...) {
    Log.AddError("CLocalComputer::AddFoundVolume except");
    return nullptr;
  }
}
