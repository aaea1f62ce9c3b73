// The damages: on the file's bytes, or on the packed block inside it (a TFD
// file's is expanded, damaged and the file built again, every CRC new).
#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "damage_internal.h"
#include "flash/packed_format.h"
#include "flash/packing.h"
#include "tfd/tfd_store.h"
#include "workspace/std_file.h"

namespace tolv::damage {
namespace {

using packed::DirectoryEntry;

std::string Text(const char* what, uint64_t a, uint64_t b = 0) {
  return std::string(what) + " " + std::to_string(a) + (b ? " " + std::to_string(b) : "");
}

struct Directory {
  packed::Form form;
  int count;
};

Directory DirectoryOf(const uint8_t* block) {
  const packed::Form form = packed::FormOf(PackedBlock_IsLittleEndian(block, kPackedBlockSize));
  return {form, packed::EntryCount(block, kPackedBlockSize, form).value_or(0)};
}

uint8_t* EntryAt(uint8_t* block, const Directory& dir, int j) {
  return block + *packed::EntryOffset(kPackedBlockSize, dir.form, j);
}

// A chunk's uncompressed size made smaller or larger; its chunk CRC, the
// block CRC, data CRC and data length of its entry recomputed from what the
// stream then gives.
std::string EditChunkSize(Random& random, uint8_t* block, const Directory& dir, int j) {
  uint8_t* at = EntryAt(block, dir, j);
  DirectoryEntry entry = packed::ReadEntry(at, dir.form.littleEndian);
  if (entry.blockOffset == 0 || entry.blockOffset + 18 > kPackedBlockSize) return "";
  uint8_t* chunk = block + entry.blockOffset + 10;
  const uint32_t storedSize = ReadBE16(chunk) - 6;
  const uint32_t size = ReadBE16(chunk + 6);
  const uint32_t newSize = std::max<uint32_t>(1, size + static_cast<uint32_t>(random.Below(64)) - 32);
  if (newSize == size || ReadBE16(block + entry.blockOffset + 8) != 1) return "";
  WriteBE16(chunk + 6, newSize);
  WriteBE16(chunk + 2, CRC16_Calc(chunk + 4, static_cast<int32_t>(storedSize + 4)));
  std::vector<uint8_t> data(newSize);
  Block_Decompress(chunk + 8, static_cast<int32_t>(storedSize), data.data(), static_cast<int32_t>(newSize));
  entry.dataLength = newSize;
  entry.dataCrc = CRC16_Calc(data.data(), static_cast<int32_t>(newSize));
  entry.blockCrc = CRC16_Calc(block + entry.blockOffset, static_cast<int32_t>(entry.blockLength));
  packed::WriteEntry(at, entry, dir.form.littleEndian);
  return Text("entry chunk size", j, newSize);
}

// A directory damage on the packed block.
std::string DamageDirectory(Random& random, Damage damage, uint8_t* block) {
  const Directory dir = DirectoryOf(block);
  if (dir.count < 2) return "";
  const int j = static_cast<int>(random.Below(static_cast<uint64_t>(std::min(dir.count, 49) - 1)));
  uint8_t* at = EntryAt(block, dir, j);
  DirectoryEntry entry = packed::ReadEntry(at, dir.form.littleEndian);
  switch (damage) {
    case Damage::kEntryUnused:
      if (random.Below(2))
        entry.blockOffset = 0;
      else
        entry.blockCrc = 0xFFFF;
      packed::WriteEntry(at, entry, dir.form.littleEndian);
      return Text("entry unused", j);
    case Damage::kEntryMoved: {
      const int64_t by = (static_cast<int64_t>(random.Below(9)) - 4) * 1024;
      if (by == 0) return "";
      entry.blockOffset = static_cast<uint32_t>(static_cast<int64_t>(entry.blockOffset) + by);
      packed::WriteEntry(at, entry, dir.form.littleEndian);
      return Text("entry moved", j, static_cast<uint64_t>(by + 8192));
    }
    case Damage::kEntrySwapped: {
      uint8_t* next = EntryAt(block, dir, j + 1);
      std::swap_ranges(at, at + packed::kEntrySize, next);
      return Text("entries swapped", j, j + 1);
    }
    case Damage::kEntryDoubled:
      std::memcpy(EntryAt(block, dir, j + 1), at, packed::kEntrySize);
      return Text("entry doubled", j);
    case Damage::kEntryCount: {
      const uint8_t count = static_cast<uint8_t>(random.Next());
      block[dir.form.countLowByteOffset] = count;
      return Text("entry count", count);
    }
    case Damage::kChunkSize: return EditChunkSize(random, block, dir, j);
    default: return "";
  }
}

bool OnPackedBlock(Damage damage) { return damage >= Damage::kEntryUnused && damage <= Damage::kChunkSize; }

// The packed Flash block of a TFD file damaged, the file built again.
std::string DamageTfdPacked(Random& random, Damage damage, std::vector<uint8_t>& bytes) {
  auto store = std::make_unique<TfdStore>();
  TfdHeader header;
  if (TFD_LoadImage(*store, bytes.data(), bytes.size(), &header) != 0) return "";
  const uint8_t type = random.Below(2) ? 2 : 4;
  tTFDBlock& slot = (*store)[type];
  if (slot.data.size() != kPackedBlockSize) return "";
  const std::string what = DamageDirectory(random, damage, slot.data.data());
  if (what.empty()) return "";
  if (TFD_BuildImage(*store, header.systemId, bytes) != 0) return "";
  return (type == 2 ? "flash block: " : "defaults block: ") + what;
}

std::string DamageSystemId(Random& random, Form form, std::vector<uint8_t>& bytes) {
  const uint16_t id = static_cast<uint16_t>(random.Next());
  if (form == Form::kStd) {
    bytes[10] = static_cast<uint8_t>(id >> 8);
    bytes[11] = static_cast<uint8_t>(id);
  } else if (form == Form::kTfd) {
    WriteBE16(bytes.data() + 4, id);
    WriteBE16(bytes.data() + 2, CRC16_Calc(bytes.data() + 4, 6));
  } else {
    return "";
  }
  return Text("SystemID bytes", id);
}

}  // namespace

std::string ApplyDamage(Random& random, Form form, Damage damage, std::vector<uint8_t>& bytes) {
  if (bytes.empty() && damage != Damage::kExtend) return "";
  switch (damage) {
    case Damage::kFlip: {
      const size_t at = random.Below(bytes.size());
      const uint8_t bit = static_cast<uint8_t>(1u << random.Below(8));
      bytes[at] ^= bit;
      return Text("byte flipped", at, bit);
    }
    case Damage::kCut: {
      const size_t size = random.Below(bytes.size());
      bytes.resize(size);
      return Text("cut to", size);
    }
    case Damage::kExtend: {
      const size_t more = 1 + random.Below(64);
      for (size_t i = 0; i < more; ++i) bytes.push_back(static_cast<uint8_t>(random.Next()));
      return Text("extended by", more);
    }
    case Damage::kSystemId: return DamageSystemId(random, form, bytes);
    default: break;
  }
  if (!OnPackedBlock(damage)) return "";
  if (form == Form::kTfd) return DamageTfdPacked(random, damage, bytes);
  if (form == Form::kStd && bytes.size() == kStdFileSize)
    return DamageDirectory(random, damage, bytes.data() + kStdPackedOffset);
  if (form == Form::kDump && bytes.size() == kPackedBlockSize)
    return DamageDirectory(random, damage, bytes.data());
  return "";
}

}  // namespace tolv::damage
