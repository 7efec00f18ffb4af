// Modal dialogs from a template in dialog units, run by a dialog procedure that
// receives WM_INITDIALOG and WM_COMMAND like a classic one.
#pragma once

#include <QRect>
#include <QSize>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/window.h"

class QDialog;
class QFontMetrics;

namespace platform::qt {

enum class ControlKind { kStatic, kPushButton, kDefaultPushButton };

struct DialogControl {
  ControlKind kind = ControlKind::kStatic;
  int id = -1;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  std::u16string text;                      // '&' marks a mnemonic; "&&" is a plain '&'
};

struct DialogTemplate {
  std::u16string caption;
  int width = 0, height = 0;  // dialog units
  bool toolWindow = false;
  std::vector<DialogControl> controls;
  // The dialog's font: the system's user-interface face at this size (0: the
  // application's font). Dialog units are measured in it.
  int fontPointSize = 0;
};

class Dialog;
using DialogProc = std::intptr_t (*)(Dialog* dialog, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam);

// The running dialog, as its procedure sees it.
class Dialog {
 public:
  virtual ~Dialog() = default;
  // Closes the dialog; DialogBoxParam returns result.
  virtual void EndDialog(std::intptr_t result) = 0;
  // The text a control shows (mnemonic marks removed), for tests.
  virtual std::u16string ControlText(int index) const = 0;
  virtual QDialog* Widget() = 0;
};

// Shows the dialog modally over owner and returns what the procedure passed to
// EndDialog. Window's thread.
std::intptr_t DialogBoxParam(ui::HWND owner, const DialogTemplate& dialogTemplate,
                             DialogProc procedure, std::intptr_t parameter);

// Where the dialog's controls go, in pixels of a font with these metrics: the
// template's dialog units, widened evenly where the font runs too wide for a
// static control's text, so that every text fits and the layout keeps its shape.
struct DialogLayout {
  QSize size;
  std::vector<QRect> controls;  // in template order
};
DialogLayout LayOut(const DialogTemplate& dialogTemplate, const QFontMetrics& metrics);

// A static control's shown text: "&&" becomes '&', a lone '&' disappears.
std::u16string StaticText(std::u16string_view text);

}  // namespace platform::qt
