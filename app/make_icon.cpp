// Draws the 48x48 PNG of the program's icon, the same picture as
// data/icons/org.tonaria.Tonaria.svg, at build time.
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.png\n");
    return 1;
  }
  QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1b, 0x23, 0x30));
  painter.drawRoundedRect(QRectF(2, 2, 44, 44), 8, 8);

  struct Bar {
    double x, top, width;
  };
  constexpr Bar kBars[] = {{8, 24, 5}, {15.5, 14, 5}, {23, 19, 5}, {30.5, 10, 5}, {38, 28, 3}};
  constexpr double kBottom = 40;
  for (const Bar& bar : kBars) {
    // The gradient runs over each bar's own height, as in the SVG (bounding-box units).
    QLinearGradient gradient(0, kBottom, 0, bar.top);
    gradient.setColorAt(0, QColor(0x2e, 0xcc, 0x71));
    gradient.setColorAt(0.6, QColor(0xf1, 0xc4, 0x0f));
    gradient.setColorAt(1, QColor(0xe7, 0x4c, 0x3c));
    painter.fillRect(QRectF(bar.x, bar.top, bar.width, kBottom - bar.top), gradient);
    painter.fillRect(QRectF(bar.x, bar.top - 4, bar.width, 1.5), QColor(0xdf, 0xe6, 0xee));
  }
  painter.end();
  return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
