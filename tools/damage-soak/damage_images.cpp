// The known images of a case and the files the savers make of them.
#include "damage_internal.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "codec/crc16.h"
#include "common/file_io.h"
#include "common/utf8_path.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "tfd/tfd_store.h"
#include "workspace/backup_folder.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"

namespace tolv::damage {
namespace {

// Settings-like bytes: runs and repeats that compress, with some noise.
void FillSettings(Random& random, uint8_t* bytes, size_t size) {
  size_t i = 0;
  while (i < size) {
    const size_t run = std::min<size_t>(size - i, 4 + random.Below(60));
    const uint8_t value = static_cast<uint8_t>(random.Below(8) == 0 ? random.Next() : random.Below(4));
    for (size_t k = 0; k < run; ++k)
      bytes[i + k] = random.Below(128) == 0 ? static_cast<uint8_t>(random.Next()) : value;
    i += run;
  }
}

// A settings image of the DVB-s layout with every section header right.
void MakeSettings(Random& random, uint8_t* bytes, size_t size) {
  FillSettings(random, bytes, size);
  const SectionTable& table = Layout_Sections(kLayoutDvbS);
  for (int k = 1; k <= kSectionCount; ++k) {
    const uint32_t s = table.start[k];
    if (s + 6 > size || s >= table.end[k]) continue;
    bytes[s + 2] = 0xFF;
    bytes[s + 3] = 0xFF;
    if (bytes[s + 4] == 0xFF && bytes[s + 5] == 0xFF) bytes[s + 4] = 0;
  }
  Flash_WriteSectionChecksums(bytes, size, table);
}

void MakeEeprom(Random& random, uint8_t* eeprom) {
  for (size_t i = 0; i < kEepromImageSize; ++i) eeprom[i] = static_cast<uint8_t>(random.Next());
  Eeprom_WriteChecksums(eeprom, kEepromImageSize);
}

constexpr uint16_t kSystemIds[] = {406, 1416, 21031, 456, 10446};

}  // namespace

void MakeKnown(Random& random, Workspace& known) {
  known = Workspace{};
  known.systemId = kSystemIds[random.Below(std::size(kSystemIds))];
  for (ComponentKind kind : kAllComponents) known.Image(kind).assign(ComponentImageSize(kind), 0);
  auto fillRandom = [&](ComponentKind kind) {
    for (uint8_t& b : known.Image(kind)) b = static_cast<uint8_t>(random.Next());
  };
  fillRandom(ComponentKind::Loader);
  known.Image(ComponentKind::Firmware).resize(1 + random.Below(70000));
  fillRandom(ComponentKind::Firmware);
  MakeSettings(random, known.Image(ComponentKind::Flash).data(), kDefaultsSettingsSize);
  MakeEeprom(random, known.Image(ComponentKind::Eeprom).data());
  MakeSettings(random, known.Image(ComponentKind::Defaults).data(), kDefaultsSettingsSize);
  MakeEeprom(random, known.Image(ComponentKind::Defaults).data() + kDefaultsEepromOffset);
  for (ComponentKind kind : {ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Flash,
                             ComponentKind::Eeprom, ComponentKind::Defaults})
    known.Present(kind) = true;
  known.layoutVariant = kLayoutDvbS;
  known.sectionTable = Layout_Sections(kLayoutDvbS);
  known.sectionTableMatchesFlash = true;
  // A model without a built-in template packs with a header of its own.
  if (!Flash_HasModelHeader(static_cast<uint16_t>(known.systemId)))
    known.keptHeader = KeptModelHeader{ModelHeader_Make(static_cast<uint16_t>(known.systemId), false),
                                       static_cast<uint16_t>(known.systemId)};
}

std::vector<ModelList::Model> KnownModels(const Workspace& known) {
  std::vector<ModelList::Model> models = {{1416, "TF5000PVR"}, {21031, "TF6000F"}};
  models.push_back({static_cast<uint16_t>(known.systemId), "Model " + std::to_string(known.systemId)});
  return models;
}

// Big-endian: a 20-byte header counting the 348-byte model records (ID at
// 0, name at 4) and the 72-byte records of the second table.
std::vector<uint8_t> ModelListBytes(const std::vector<ModelList::Model>& models) {
  constexpr size_t kHeader = 20, kRecord = 348, kSecond = 72, kSecondCount = 2;
  std::vector<uint8_t> bytes(kHeader + models.size() * kRecord + kSecondCount * kSecond, 0);
  WriteBE16(bytes.data() + 14, static_cast<uint32_t>(models.size()));
  WriteBE16(bytes.data() + 18, kSecondCount);
  for (size_t i = 0; i < models.size(); ++i) {
    uint8_t* record = bytes.data() + kHeader + i * kRecord;
    WriteBE16(record, models[i].systemId);
    std::copy(models[i].name.begin(), models[i].name.end(), record + 4);
  }
  return bytes;
}

std::string WriteForm(Form form, const Workspace& known, const std::string& dir) {
  Workspace copy = known;
  SilentInteraction ui;
  const std::string base = dir + "/case";
  switch (form) {
    case Form::kStd: STD_Save(copy, base + ".std", ui); return base + ".std";
    case Form::kDump: FlashDump_Save(copy, base + ".dmp", ui); return base + ".dmp";
    case Form::kTfd: {
      auto store = std::make_unique<TfdStore>();
      TFD_Export(copy, *store, base + ".tfd", ui);
      return base + ".tfd";
    }
    case Form::kEepromBin:
      Component_SaveBin(copy, ComponentKind::Eeprom, base + "-eeprom.bin");
      return base + "-eeprom.bin";
    case Form::kFlashBin:
      Component_SaveBin(copy, ComponentKind::Flash, base + "-flash.bin");
      return base + "-flash.bin";
    case Form::kDefaultsBin:
      Component_SaveBin(copy, ComponentKind::Defaults, base + "-defaults.bin");
      return base + "-defaults.bin";
    case Form::kLoaderBin:
      Component_SaveBin(copy, ComponentKind::Loader, base + "-loader.bin");
      return base + "-loader.bin";
    case Form::kFirmwareBin:
      Component_SaveBin(copy, ComponentKind::Firmware, base + "-firmware.bin");
      return base + "-firmware.bin";
    case Form::kModelList:
      SaveFileAtomically(dir + "/Firmware.dat", ByteView(ModelListBytes(KnownModels(known))));
      return dir + "/Firmware.dat";
    case Form::kBackupFolder: {
      // A backup folder must not exist before it is written.
      std::filesystem::remove_all(PathFromUtf8(dir + "/backup"));
      Backup_Write(copy, dir + "/backup", BackupOrigin{"USB", 1765000000}, ui);
      return dir + "/backup";
    }
    case Form::kBlockFile:
    case Form::kCount: break;
  }
  FlashBlocks_Save(copy, base + "blocks.bin", ui);
  return FlashBlock_FileName(dir + "/", "caseblocks", 5);
}

}  // namespace tolv::damage
