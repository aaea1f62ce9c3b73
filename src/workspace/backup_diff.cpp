// Comparing two backups component by component.
#include "workspace/backup_diff.h"

#include <algorithm>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"

namespace tolv {
namespace {

// The settings part of the Flash image and of the Defaults image: the 13
// sections of a layout; the bytes after it belong to no section.
constexpr uint64_t kSettingsEnd = kDefaultsSettingsSize;
// The EEPROM bytes after the seventh checksum record belong to no record.
constexpr uint64_t kRecordsEnd = 82;

void Keep(std::vector<RegionDiff>& regions, RegionDiff region) {
  if (!region.bytes.Same()) regions.push_back(std::move(region));
}

RegionDiff Region(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, std::string name, int number,
                  uint64_t begin, uint64_t end) {
  return {std::move(name), number, {begin, end - 1}, CompareBytes(a, b, begin, end)};
}

// The settings part by the sections of the layout both sides have; without a
// common layout, as one region.
void AddSettingsRegions(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint8_t layoutA,
                        uint8_t layoutB, std::vector<RegionDiff>& regions) {
  if (layoutA != layoutB || layoutA == kLayoutNone) {
    Keep(regions, Region(a, b, "settings", 0, 0, kSettingsEnd));
    return;
  }
  const SectionTable& table = Layout_Sections(layoutA);
  for (int k = 1; k <= kSectionCount; ++k) {
    if (table.start[k] >= table.end[k]) continue;  // an empty section
    Keep(regions, Region(a, b, "section", k, table.start[k], uint64_t{table.end[k]} + 1));
  }
}

// The seven checksum records of an EEPROM image that starts at base, each
// from its CRC to the end of the bytes it covers, and the bytes after them.
void AddEepromRegions(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint64_t base,
                      const std::string& record, const std::string& rest, std::vector<RegionDiff>& regions) {
  int number = 0;
  for (const EepromChecksumRecord& r : kEepromChecksumRecords)
    Keep(regions, Region(a, b, record, ++number, base + r.crcOffset, base + r.dataOffset + r.dataCount));
  Keep(regions, Region(a, b, rest, 0, base + kRecordsEnd, base + kEepromImageSize));
}

void AddRegions(ComponentDiff& diff, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  switch (diff.kind) {
    case ComponentKind::Flash:
      diff.layoutA = Flash_RecogniseLayout(a.data(), kSettingsEnd);
      diff.layoutB = Flash_RecogniseLayout(b.data(), kSettingsEnd);
      AddSettingsRegions(a, b, diff.layoutA, diff.layoutB, diff.regions);
      Keep(diff.regions, Region(a, b, "past the sections", 0, kSettingsEnd, kFlashImageSize));
      break;
    case ComponentKind::Eeprom:
      AddEepromRegions(a, b, 0, "EEPROM record", "past the records", diff.regions);
      break;
    case ComponentKind::Defaults:
      diff.layoutA = Flash_RecogniseLayout(a.data(), kSettingsEnd);
      diff.layoutB = Flash_RecogniseLayout(b.data(), kSettingsEnd);
      AddSettingsRegions(a, b, diff.layoutA, diff.layoutB, diff.regions);
      AddEepromRegions(a, b, kDefaultsEepromOffset, "default EEPROM record", "past the default records",
                       diff.regions);
      Keep(diff.regions,
           Region(a, b, "carried rest", 0, kDefaultsEepromOffset + kEepromImageSize, kDefaultsImageSize));
      break;
    default: break;  // compared as a whole only
  }
}

ComponentDiff CompareComponent(ComponentKind kind, const Workspace& a, const Workspace& b) {
  ComponentDiff diff;
  diff.kind = kind;
  if (a.Present(kind)) diff.sizeA = a.Image(kind).size();
  if (b.Present(kind)) diff.sizeB = b.Image(kind).size();
  if (!diff.InBoth()) return diff;
  const std::vector<uint8_t>& imageA = a.Image(kind);
  const std::vector<uint8_t>& imageB = b.Image(kind);
  diff.bytes = CompareBytes(imageA, imageB, 0, std::max(imageA.size(), imageB.size()));
  if (!diff.bytes.Same()) AddRegions(diff, imageA, imageB);
  return diff;
}

}  // namespace

BytesDiff CompareBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint64_t begin,
                       uint64_t end) {
  BytesDiff diff;
  bool inRun = false;
  for (uint64_t i = begin; i < end; ++i) {
    const bool differs = i >= a.size() || i >= b.size() || a[i] != b[i];
    if (differs) {
      ++diff.differing;
      if (!diff.first) diff.first = i;
      if (!inRun) {
        ++diff.runCount;
        if (diff.runs.size() < kMaxListedRuns) diff.runs.push_back({i, i});
      } else if (diff.runs.size() == diff.runCount) {
        diff.runs.back().last = i;
      }
    }
    inRun = differs;
  }
  return diff;
}

bool BackupDiff::Same() const {
  return SystemIdSame() &&
         std::all_of(components.begin(), components.end(), [](const ComponentDiff& c) { return c.Same(); });
}

BackupDiff Backups_Compare(const Workspace& a, const Workspace& b) {
  BackupDiff diff;
  diff.systemIdA = a.systemId;
  diff.systemIdB = b.systemId;
  for (ComponentKind kind : kAllComponents)
    diff.components[static_cast<size_t>(kind)] = CompareComponent(kind, a, b);
  return diff;
}

}  // namespace tolv
