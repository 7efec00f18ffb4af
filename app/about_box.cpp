#include "app/about_box.h"

#include "app/resources.h"
#include "platform/qt/window_messages.h"

namespace app {

namespace qt = platform::qt;

std::intptr_t AboutDlgProc(qt::Dialog* dialog, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t) {
  switch (message) {
    case qt::WM_INITDIALOG:
      return 1;
    case qt::WM_COMMAND: {
      const std::uint16_t id = qt::LoWord(wParam);
      if (id == 1 || id == qt::IDCANCEL) {
        dialog->EndDialog(id);
        return 1;
      }
      return 0;
    }
    default:
      return 0;
  }
}

void ShowAboutBox(platform::ui::HWND owner) {
  qt::DialogBoxParam(owner, AboutDialog103(), AboutDlgProc, 0);
}

}  // namespace app
