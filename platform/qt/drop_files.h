// What a drop on a window delivers with WM_DROPFILES (wParam points at it for the
// length of the call), and the shell's view of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::qt {

struct DropFiles {
  std::vector<std::u16string> paths;  // local files, in the order dropped
};

inline const DropFiles* AsDropFiles(std::uintptr_t wParam) {
  return reinterpret_cast<const DropFiles*>(wParam);
}

std::uint32_t DragQueryFileCount(const DropFiles* drop);
// The whole path of file index, never cut; empty when there is no such file.
std::u16string DragQueryFilePath(const DropFiles* drop, std::uint32_t index);

// The name a file manager shows for the file (its name with extension); false
// when the file cannot be looked at.
bool GetFileDisplayName(const std::u16string& path, std::u16string& displayName);

}  // namespace platform::qt
