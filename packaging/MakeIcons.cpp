// Build step: the desktop icons from the program's logo.
//   MakeIcons <logo> <output folder> <size>...
// writes <output folder>/<size>x<size>/apps/quillon-config.png for each size:
// the logo centred on a transparent square (it is not quite square), scaled
// smoothly.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

QImage SquareCanvas(const QImage& logo) {
  const int side = std::max(logo.width(), logo.height());
  QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.drawImage((side - logo.width()) / 2, (side - logo.height()) / 2, logo);
  return canvas;
}

bool WriteIcon(const QImage& square, int size, const QString& folder) {
  const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
  if (!QDir().mkpath(dir)) return false;
  const QImage icon = square.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return icon.save(dir + QStringLiteral("/quillon-config.png"), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: MakeIcons <logo> <output folder> <size>...\n");
    return 2;
  }
  const QImage logo(QString::fromLocal8Bit(argv[1]));
  if (logo.isNull()) {
    std::fprintf(stderr, "MakeIcons: cannot read the picture %s\n", argv[1]);
    return 1;
  }
  const QImage square = SquareCanvas(logo);
  for (int i = 3; i < argc; ++i) {
    const int size = QString::fromLatin1(argv[i]).toInt();
    if (size <= 0 || !WriteIcon(square, size, QString::fromLocal8Bit(argv[2]))) {
      std::fprintf(stderr, "MakeIcons: cannot write the %s px icon in %s\n", argv[i], argv[2]);
      return 1;
    }
  }
  return 0;
}
