// Draws the program's images into the folder given as the only argument:
//   stelvox_drawimages ui/Resource
// One palette and one stroke weight for everything, so the set looks of a piece.
#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVector>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor kBlue(2, 65, 132);
const QColor kSky(40, 124, 214);
const QColor kGray(120, 120, 120);
const QColor kLightGray(190, 190, 190);
const QColor kGreen(46, 160, 67);
const QColor kRed(208, 52, 44);

using Draw = std::function<void(QPainter&, qreal size)>;

QImage render(int size, const Draw& draw) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p, size);
  p.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

bool savePng(const QString& folder, const QString& name, int size, const Draw& draw) {
  const QString path = folder + QLatin1Char('/') + name;
  if (!render(size, draw).save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

QPen stroke(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// --- the program icon: a small front-panel display showing a pulse line ---
void drawAppIcon(QPainter& p, qreal s) {
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, kSky);
  g.setColorAt(1, kBlue);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);
  const QRectF screen(s * 0.16, s * 0.22, s * 0.68, s * 0.46);
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawRoundedRect(screen, s * 0.06, s * 0.06);
  QPainterPath pulse;
  const qreal y = screen.center().y();
  pulse.moveTo(screen.left() + s * 0.06, y);
  pulse.lineTo(s * 0.36, y);
  pulse.lineTo(s * 0.43, screen.top() + s * 0.07);
  pulse.lineTo(s * 0.53, screen.bottom() - s * 0.07);
  pulse.lineTo(s * 0.60, y);
  pulse.lineTo(screen.right() - s * 0.06, y);
  p.setBrush(Qt::NoBrush);
  p.setPen(stroke(kBlue, qMax<qreal>(1.2, s * 0.06)));
  p.drawPath(pulse);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawRoundedRect(QRectF(s * 0.38, s * 0.72, s * 0.24, s * 0.1), s * 0.03, s * 0.03);
}

// An .ico with one 32-bit image per size (BMP entries, which every reader understands).
bool saveIco(const QString& path, const QVector<int>& sizes) {
  QVector<QByteArray> entries;
  for (int size : sizes) {
    const QImage image = render(size, drawAppIcon);
    QByteArray bmp;
    QDataStream out(&bmp, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(32)
        << quint32(0) << quint32(0) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    for (int y = size - 1; y >= 0; --y) {
      const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < size; ++x) {
        out << quint8(qBlue(line[x])) << quint8(qGreen(line[x])) << quint8(qRed(line[x]))
            << quint8(qAlpha(line[x]));
      }
    }
    // The AND mask: all zero, transparency comes from the alpha channel.
    const int maskStride = ((size + 31) / 32) * 4;
    bmp.append(QByteArray(maskStride * size, '\0'));
    entries.append(bmp);
  }
  QByteArray ico;
  QDataStream out(&ico, QIODevice::WriteOnly);
  out.setByteOrder(QDataStream::LittleEndian);
  out << quint16(0) << quint16(1) << quint16(sizes.size());
  quint32 offset = 6 + 16 * sizes.size();
  for (int i = 0; i < sizes.size(); ++i) {
    const quint8 dim = sizes[i] >= 256 ? 0 : quint8(sizes[i]);
    out << dim << dim << quint8(0) << quint8(0) << quint16(1) << quint16(32)
        << quint32(entries[i].size()) << offset;
    offset += entries[i].size();
  }
  for (const QByteArray& e : entries) ico.append(e);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// --- menu icons (32 px, shown at 16 px) ---
void drawDeviceList(QPainter& p, qreal s) {
  p.setPen(stroke(kBlue, s * 0.08));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(s * 0.12, s * 0.16, s * 0.76, s * 0.52), s * 0.07, s * 0.07);
  p.drawLine(QPointF(s * 0.5, s * 0.68), QPointF(s * 0.5, s * 0.82));
  p.drawLine(QPointF(s * 0.32, s * 0.84), QPointF(s * 0.68, s * 0.84));
  p.setPen(stroke(kSky, s * 0.07));
  for (int i = 0; i < 3; ++i) {
    const qreal y = s * (0.3 + 0.12 * i);
    p.drawLine(QPointF(s * 0.26, y), QPointF(s * (0.74 - 0.1 * i), y));
  }
}

void drawSetting(QPainter& p, qreal s) {
  const QPointF c(s / 2, s / 2);
  QPainterPath gear;
  const int teeth = 8;
  for (int i = 0; i < teeth * 2; ++i) {
    const qreal a0 = (i - 0.5) * M_PI / teeth;
    const qreal a1 = (i + 0.5) * M_PI / teeth;
    const qreal r = (i % 2 == 0) ? s * 0.44 : s * 0.34;
    const QPointF p0 = c + QPointF(qCos(a0), qSin(a0)) * r;
    const QPointF p1 = c + QPointF(qCos(a1), qSin(a1)) * r;
    if (i == 0)
      gear.moveTo(p0);
    else
      gear.lineTo(p0);
    gear.lineTo(p1);
  }
  gear.closeSubpath();
  QPainterPath hole;
  hole.addEllipse(c, s * 0.14, s * 0.14);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawPath(gear.subtracted(hole));
}

void drawUpgrade(QPainter& p, qreal s) {
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  p.setPen(stroke(Qt::white, s * 0.1));
  p.drawLine(QPointF(s * 0.5, s * 0.74), QPointF(s * 0.5, s * 0.28));
  p.setBrush(Qt::NoBrush);
  QPainterPath head;
  head.moveTo(s * 0.3, s * 0.46);
  head.lineTo(s * 0.5, s * 0.26);
  head.lineTo(s * 0.7, s * 0.46);
  p.drawPath(head);
}

void drawAbout(QPainter& p, qreal s) {
  p.setPen(Qt::NoPen);
  p.setBrush(kSky);
  p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(s * 0.5, s * 0.28), s * 0.07, s * 0.07);
  p.drawRoundedRect(QRectF(s * 0.43, s * 0.42, s * 0.14, s * 0.36), s * 0.04, s * 0.04);
}

void drawQuit(QPainter& p, qreal s) {
  p.setBrush(Qt::NoBrush);
  p.setPen(stroke(kRed, s * 0.1));
  p.drawArc(QRectF(s * 0.14, s * 0.16, s * 0.72, s * 0.72), 125 * 16, 290 * 16);
  p.drawLine(QPointF(s * 0.5, s * 0.08), QPointF(s * 0.5, s * 0.48));
}

void drawOnline(QPainter& p, qreal s) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(kGreen.red(), kGreen.green(), kGreen.blue(), 60));
  p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  p.setBrush(kGreen);
  p.drawEllipse(QRectF(s * 0.24, s * 0.24, s * 0.52, s * 0.52));
}

// --- widget images ---
// A chevron pointing down, up, left or right, centred in the image.
Draw chevron(int direction, const QColor& color) {
  return [direction, color](QPainter& p, qreal s) {
    p.translate(s / 2, s / 2);
    p.rotate(direction * 90.0);  // 0 down, 1 left, 2 up, 3 right
    QPainterPath path;
    path.moveTo(-s * 0.3, -s * 0.13);
    path.lineTo(0, s * 0.17);
    path.lineTo(s * 0.3, -s * 0.13);
    p.setPen(stroke(color, qMax<qreal>(1.5, s * 0.14)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
  };
}

Draw checkBox(bool enabled, bool checked) {
  return [enabled, checked](QPainter& p, qreal s) {
    const QColor border = enabled ? (checked ? kSky : kGray) : kLightGray;
    const QColor fill =
        checked ? (enabled ? kSky : kLightGray) : (enabled ? Qt::white : QColor(240, 240, 240));
    p.setPen(QPen(border, 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1.5, 1.5, s - 3, s - 3), s * 0.15, s * 0.15);
    if (checked) {
      QPainterPath tick;
      tick.moveTo(s * 0.26, s * 0.52);
      tick.lineTo(s * 0.43, s * 0.69);
      tick.lineTo(s * 0.75, s * 0.33);
      p.setPen(stroke(Qt::white, s * 0.12));
      p.setBrush(Qt::NoBrush);
      p.drawPath(tick);
    }
  };
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <Resource folder>\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  bool ok = saveIco(out + QStringLiteral("/favicon.ico"), {16, 24, 32, 48, 64, 128});
  ok &= savePng(out, QStringLiteral("favicon.png"), 256, drawAppIcon);
  ok &= savePng(out, QStringLiteral("devicelist.png"), 32, drawDeviceList);
  ok &= savePng(out, QStringLiteral("setting.png"), 32, drawSetting);
  ok &= savePng(out, QStringLiteral("upgrade.png"), 32, drawUpgrade);
  ok &= savePng(out, QStringLiteral("about.png"), 32, drawAbout);
  ok &= savePng(out, QStringLiteral("quit.png"), 32, drawQuit);
  ok &= savePng(out, QStringLiteral("online.png"), 32, drawOnline);
  ok &= savePng(out, QStringLiteral("drop_down_normal.png"), 12, chevron(0, kGray));
  ok &= savePng(out, QStringLiteral("drop_down_pressed.png"), 12, chevron(0, kBlue));
  ok &= savePng(out, QStringLiteral("up_arrow_normal.png"), 10, chevron(2, kGray));
  ok &= savePng(out, QStringLiteral("up_arrow_pressed.png"), 10, chevron(2, kBlue));
  ok &= savePng(out, QStringLiteral("down_arrow_normal.png"), 10, chevron(0, kGray));
  ok &= savePng(out, QStringLiteral("down_arrow_pressed.png"), 10, chevron(0, kBlue));
  ok &= savePng(out, QStringLiteral("left_arrow_normal.png"), 12, chevron(1, kGray));
  ok &= savePng(out, QStringLiteral("left_arrow_hover.png"), 12, chevron(1, kBlue));
  ok &= savePng(out, QStringLiteral("right_arrow_normal.png"), 12, chevron(3, kGray));
  ok &= savePng(out, QStringLiteral("right_arrow_hover.png"), 12, chevron(3, kBlue));
  ok &= savePng(out, QStringLiteral("ckb_enabled_checked.png"), 18, checkBox(true, true));
  ok &= savePng(out, QStringLiteral("ckb_enabled_unchecked.png"), 18, checkBox(true, false));
  ok &= savePng(out, QStringLiteral("ckb_unenabled_checked.png"), 18, checkBox(false, true));
  ok &= savePng(out, QStringLiteral("ckb_unenabled_unchecked.png"), 18, checkBox(false, false));
  return ok ? 0 : 1;
}
