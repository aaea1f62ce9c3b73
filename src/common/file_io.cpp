// The parts of file access that are the same on every platform.
#include "common/file_io.h"

namespace tolv {

void SaveFileAtomically(const std::string& path, std::initializer_list<ByteView> parts) {
  SaveFilesAtomically({FileToSave{path, std::vector<ByteView>(parts)}});
}

void SaveFileAtomically(const std::string& path, ByteView bytes) { SaveFileAtomically(path, {bytes}); }

}  // namespace tolv
