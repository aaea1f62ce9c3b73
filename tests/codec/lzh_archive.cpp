#include "lzh_archive.h"

#include <stdexcept>

namespace tolv::test {
namespace {

// Level-0 header: size of the rest of the header (1 byte), its byte sum
// (1 byte), method (5), compressed size (LE32), original size (LE32), DOS time
// stamp (LE32), attribute, level 0, name length and name, CRC-16 of the
// original (LE16). The compressed data follows.
constexpr size_t kFixedHeaderBytes = 22;

void PutLE(std::vector<uint8_t>& out, uint32_t value, int byteCount) {
  for (int i = 0; i < byteCount; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetLE(const std::vector<uint8_t>& in, size_t offset, int byteCount) {
  uint32_t value = 0;
  for (int i = byteCount - 1; i >= 0; --i) value = (value << 8) | in.at(offset + static_cast<size_t>(i));
  return value;
}

}  // namespace

std::vector<uint8_t> BuildLzhArchive(const std::vector<LzhEntry>& entries) {
  std::vector<uint8_t> archive;
  for (const LzhEntry& entry : entries) {
    std::vector<uint8_t> header;
    header.push_back(static_cast<uint8_t>(kFixedHeaderBytes + entry.name.size()));
    header.push_back(0);
    header.insert(header.end(), entry.method.begin(), entry.method.end());
    PutLE(header, static_cast<uint32_t>(entry.payload.size()), 4);
    PutLE(header, entry.originalSize, 4);
    PutLE(header, 0x5A210000, 4);  // 2025-01-01 00:00
    header.push_back(0x20);
    header.push_back(0);
    header.push_back(static_cast<uint8_t>(entry.name.size()));
    header.insert(header.end(), entry.name.begin(), entry.name.end());
    PutLE(header, entry.originalCrc, 2);
    uint8_t sum = 0;
    for (size_t i = 2; i < header.size(); ++i) sum = static_cast<uint8_t>(sum + header[i]);
    header[1] = sum;
    archive.insert(archive.end(), header.begin(), header.end());
    archive.insert(archive.end(), entry.payload.begin(), entry.payload.end());
  }
  archive.push_back(0);
  return archive;
}

std::vector<LzhEntry> ParseLzhArchive(const std::vector<uint8_t>& archive) {
  std::vector<LzhEntry> entries;
  size_t offset = 0;
  while (offset < archive.size() && archive[offset] != 0) {
    const size_t headerSize = archive[offset];
    if (archive.at(offset + 20) != 0) throw std::runtime_error("not a level-0 header");
    LzhEntry entry;
    entry.method.assign(archive.begin() + static_cast<ptrdiff_t>(offset + 2),
                        archive.begin() + static_cast<ptrdiff_t>(offset + 7));
    const uint32_t payloadSize = GetLE(archive, offset + 7, 4);
    entry.originalSize = GetLE(archive, offset + 11, 4);
    const size_t nameLength = archive.at(offset + 21);
    entry.name.assign(archive.begin() + static_cast<ptrdiff_t>(offset + 22),
                      archive.begin() + static_cast<ptrdiff_t>(offset + 22 + nameLength));
    entry.originalCrc = static_cast<uint16_t>(GetLE(archive, offset + 22 + nameLength, 2));
    const size_t dataStart = offset + 2 + headerSize;
    if (dataStart + payloadSize > archive.size()) throw std::runtime_error("truncated archive");
    entry.payload.assign(archive.begin() + static_cast<ptrdiff_t>(dataStart),
                         archive.begin() + static_cast<ptrdiff_t>(dataStart + payloadSize));
    entries.push_back(std::move(entry));
    offset = dataStart + payloadSize;
  }
  return entries;
}

}  // namespace tolv::test
