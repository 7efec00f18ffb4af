#include "platform/qt/dialog_box.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "platform/qt/message_boxes.h"
#include "platform/qt/qt_window.h"
#include "platform/qt/window_messages.h"

namespace platform::qt {
namespace {

class TemplateDialog final : public QDialog, public Dialog {
 public:
  TemplateDialog(QWidget* parent, const DialogTemplate& dialogTemplate, DialogProc procedure)
      : QDialog(parent), procedure_(procedure) {
    setWindowTitle(QString::fromStdU16String(dialogTemplate.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (dialogTemplate.toolWindow) flags |= Qt::Tool;
    setWindowFlags(flags);
    // Set before anything is measured or made: the controls take it from the dialog.
    QFont dialogFont = QApplication::font();
    if (dialogTemplate.fontPointSize > 0) dialogFont.setPointSize(dialogTemplate.fontPointSize);
    setFont(dialogFont);
    const DialogLayout layout = LayOut(dialogTemplate, QFontMetrics(dialogFont));
    setFixedSize(layout.size);
    for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
      const DialogControl& control = dialogTemplate.controls[i];
      QWidget* widget = nullptr;
      if (control.kind == ControlKind::kStatic) {
        auto* label = new QLabel(this);  // owned by the dialog (Qt parent)
        label->setTextFormat(Qt::PlainText);
        label->setText(QString::fromStdU16String(StaticText(control.text)));
        widget = label;
      } else {
        auto* button =
            new QPushButton(QString::fromStdU16String(control.text), this);  // Qt parent owns it
        button->setFlat(true);
        const bool isDefault = control.kind == ControlKind::kDefaultPushButton;
        button->setDefault(isDefault);
        button->setAutoDefault(isDefault);
        if (isDefault) button->setFocus();
        const int id = control.id;
        connect(button, &QPushButton::clicked, this,
                [this, id] { procedure_(this, WM_COMMAND, static_cast<std::uint16_t>(id), 0); });
        widget = button;
      }
      texts_.push_back(StaticText(control.text));
      widget->setGeometry(layout.controls[i]);
    }
  }

  void EndDialog(std::intptr_t result) override {
    result_ = result;
    done(static_cast<int>(result));
  }
  std::u16string ControlText(int index) const override {
    return index >= 0 && static_cast<std::size_t>(index) < texts_.size() ? texts_[index]
                                                                         : std::u16string();
  }
  QDialog* Widget() override { return this; }

  // Escape and the close box arrive as the Cancel command.
  void reject() override { procedure_(this, WM_COMMAND, IDCANCEL, 0); }

  std::intptr_t Result() const { return result_; }

 private:
  DialogProc procedure_;
  std::vector<std::u16string> texts_;
  std::intptr_t result_ = 0;
};

}  // namespace

DialogLayout LayOut(const DialogTemplate& dialogTemplate, const QFontMetrics& metrics) {
  // Dialog units as the classic dialog manager has them: a quarter of the mean width
  // of the Latin letters, an eighth of the font's height.
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  double unitX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2 / 4.0;
  const double unitY = metrics.height() / 8.0;
  // A font that runs wider than the one the template was made for would cut its
  // texts: the whole dialog then widens evenly until the widest-running one fits.
  for (const DialogControl& control : dialogTemplate.controls) {
    if (control.kind != ControlKind::kStatic || control.width <= 0) continue;
    const int needed =
        metrics.horizontalAdvance(QString::fromStdU16String(StaticText(control.text)));
    unitX = std::max(unitX, static_cast<double>(needed) / control.width);
  }
  // Rounded up: a text as wide as its control must not lose a pixel to rounding.
  auto px = [](int units, double unit) { return static_cast<int>(std::ceil(units * unit - 1e-9)); };
  DialogLayout layout;
  layout.size = QSize(px(dialogTemplate.width, unitX), px(dialogTemplate.height, unitY));
  for (const DialogControl& control : dialogTemplate.controls) {
    layout.controls.emplace_back(px(control.x, unitX), px(control.y, unitY),
                                 px(control.width, unitX), px(control.height, unitY));
  }
  return layout;
}

std::u16string StaticText(std::u16string_view text) {
  std::u16string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        shown += u'&';
        ++i;
      }
      continue;
    }
    shown += text[i];
  }
  return shown;
}

std::intptr_t DialogBoxParam(ui::HWND owner, const DialogTemplate& dialogTemplate,
                             DialogProc procedure, std::intptr_t parameter) {
  if (ModalWindowsRefused()) return IDCANCEL;
  QtWindow* window = AsQtWindow(owner);
  TemplateDialog dialog(window != nullptr ? window->Widget() : nullptr, dialogTemplate, procedure);
  procedure(&dialog, WM_INITDIALOG, 0, parameter);
  dialog.exec();
  return dialog.Result();
}

}  // namespace platform::qt
