#include "util/LoadFile.h"

#include <utility>

#include "util/DocumentFile.h"

namespace vrd {

int LoadFile(const char* path, ByteString& out) noexcept {
  DocumentFile file;
  const int opened = file.Open(path);
  if (opened != kLoadOk) return opened;
  return LoadFile(file, out);
}

int LoadFile(DocumentFile& file, ByteString& out) noexcept {
  if (file.size() == 0) {
    (void)out.SetData(nullptr, 0);
    return kLoadOk;
  }

  // Read straight into a fresh string, handed to out only when complete, so
  // out keeps what it held on every failure and the bytes are copied once.
  ByteString loaded;
  char* block = loaded.PrepareContent(static_cast<int>(file.size()));
  if (block == nullptr) return kLoadNoMemory;
  const int read = file.ReadAt(0, block, static_cast<size_t>(file.size()));
  if (read != kLoadOk) return read;
  out = std::move(loaded);
  return kLoadOk;
}

}  // namespace vrd
