#include "platform/qt/drop_files.h"

#include <QFileInfo>

namespace platform::qt {

std::uint32_t DragQueryFileCount(const DropFiles* drop) {
  return drop != nullptr ? static_cast<std::uint32_t>(drop->paths.size()) : 0;
}

std::u16string DragQueryFilePath(const DropFiles* drop, std::uint32_t index) {
  if (drop == nullptr || index >= drop->paths.size()) return {};
  return drop->paths[index];
}

bool GetFileDisplayName(const std::u16string& path, std::u16string& displayName) {
  const QFileInfo info(QString::fromStdU16String(path));
  if (path.empty() || !info.exists()) return false;
  displayName = info.fileName().toStdU16String();
  return true;
}

}  // namespace platform::qt
