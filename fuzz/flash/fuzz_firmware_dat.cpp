// Parses arbitrary model description files and looks up names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "flash/model_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file(data, data + size);
  const tolv::ModelList list = tolv::ModelList::Parse(file);
  // Never more records than whole 348-byte records after the 20-byte header.
  if (size < 20 ? list.size() != 0 : list.size() > (size - 20) / 348) std::abort();
  for (uint16_t systemId : {0, 406, 1416, 1505, 10446, 21031, 65535}) {
    const std::optional<std::string> name = list.Find(systemId);
    if (name && name->size() > tolv::kModelNameMax) std::abort();
    if (name) tolv::Model_SetNameText(*name);
  }
  // The first record's ID is always found.
  if (list.size() > 0 && size >= 22) {
    const uint16_t first = static_cast<uint16_t>(data[20] << 8 | data[21]);
    if (!list.Find(first)) std::abort();
  }
  return 0;
}
