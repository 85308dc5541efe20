// Paints the window's background picture (460 x 200 baseline colour JPEG)
// and its 32 x 32 icon (PNG). Run once; the results are committed beside
// this file and embedded through qvtsplit.qrc:
//   cmake --build <build> --target qvtsplit_images
//   QT_QPA_PLATFORM=offscreen <build>/app/qvtsplit_images app/res
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QImageWriter>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRadialGradient>

#include <cstdio>

namespace {

// A row of three volume blocks with gaps between them, the last one a little
// apart: the file cut into pieces.
void PaintVolumes(QPainter& p, QRectF area)
{
    const QColor fills[3] = {QColor(0x4f, 0xc3, 0xf7), QColor(0x29, 0xb6, 0xd8), QColor(0x80, 0xde, 0xea)};
    const qreal gap = 10;
    const qreal w = (area.width() - 2 * gap) / 3;
    for (int i = 0; i < 3; ++i) {
        QRectF r(area.left() + i * (w + gap), area.top(), w, area.height());
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, fills[i].lighter(125));
        g.setColorAt(1, fills[i].darker(140));
        p.setPen(QPen(QColor(255, 255, 255, 150), 1));
        p.setBrush(g);
        p.drawRoundedRect(r, 3, 3);
        // Stripes like data inside each piece.
        p.setPen(QPen(QColor(255, 255, 255, 70), 1));
        for (qreal x = r.left() + 6; x < r.right() - 4; x += 7)
            p.drawLine(QPointF(x, r.top() + 5), QPointF(x, r.bottom() - 5));
    }
    // The cut lines between the pieces.
    QPen cut(QColor(255, 220, 120), 1.5, Qt::DashLine);
    p.setPen(cut);
    for (int i = 1; i < 3; ++i) {
        const qreal x = area.left() + i * (w + gap) - gap / 2;
        p.drawLine(QPointF(x, area.top() - 8), QPointF(x, area.bottom() + 8));
    }
}

QImage Background()
{
    QImage img(460, 200, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 460, 200);
    sky.setColorAt(0.0, QColor(0x0a, 0x1a, 0x36));
    sky.setColorAt(0.55, QColor(0x0f, 0x3b, 0x5f));
    sky.setColorAt(1.0, QColor(0x12, 0x5e, 0x74));
    p.fillRect(img.rect(), sky);

    // Soft light in the upper right corner.
    QRadialGradient glow(QPointF(400, 10), 220);
    glow.setColorAt(0, QColor(120, 200, 255, 90));
    glow.setColorAt(1, QColor(120, 200, 255, 0));
    p.fillRect(img.rect(), glow);

    // Rings behind the title, drawn thin and translucent.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 5; ++i) {
        p.setPen(QPen(QColor(160, 220, 255, 40 - i * 6), 2));
        p.drawEllipse(QPointF(420, 30), 40 + i * 22, 40 + i * 22);
    }

    // A wave across the lower part.
    QPainterPath wave;
    wave.moveTo(0, 170);
    wave.cubicTo(120, 140, 260, 200, 460, 160);
    wave.lineTo(460, 200);
    wave.lineTo(0, 200);
    wave.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawPath(wave);

    // Title and subtitle.
    QFont title("DejaVu Sans");
    title.setStyleHint(QFont::SansSerif);
    title.setPixelSize(28);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 110));
    p.drawText(QPointF(18, 47), "QVT Zedidoru");
    p.setPen(QColor(0xf2, 0xf8, 0xff));
    p.drawText(QPointF(16, 45), "QVT Zedidoru");

    QFont sub = title;
    sub.setBold(false);
    sub.setPixelSize(12);
    p.setFont(sub);
    p.setPen(QColor(0x9f, 0xd8, 0xf0));
    p.drawText(QPointF(18, 66), "split a file into volumes  \u00b7  merge them back");

    PaintVolumes(p, QRectF(18, 92, 230, 24));

    // A thin line above the progress bar.
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(0, 199.5), QPointF(460, 199.5));
    p.end();
    return img;
}

QImage Icon()
{
    QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 32, 32);
    g.setColorAt(0, QColor(0x0f, 0x3b, 0x5f));
    g.setColorAt(1, QColor(0x12, 0x7e, 0x94));
    p.setPen(QPen(QColor(255, 255, 255, 120), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);

    // Three volumes, the middle one shifted: a file cut into pieces.
    const QColor fills[3] = {QColor(0x4f, 0xc3, 0xf7), QColor(0xff, 0xd5, 0x6a), QColor(0x80, 0xde, 0xea)};
    for (int i = 0; i < 3; ++i) {
        const QRectF r(6 + (i == 1 ? 3 : 0), 7 + i * 6.5, 17, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(fills[i]);
        p.drawRoundedRect(r, 1.5, 1.5);
    }
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.2, Qt::DashLine));
    p.drawLine(QPointF(25.5, 5), QPointF(25.5, 27));
    p.end();
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    QImageWriter jpeg(dir + "/background.jpg", "jpeg");
    jpeg.setQuality(92);
    jpeg.setProgressiveScanWrite(false); // baseline
    jpeg.setOptimizedWrite(false);
    if (!jpeg.write(Background())) {
        std::fprintf(stderr, "background.jpg: %s\n", qPrintable(jpeg.errorString()));
        return 1;
    }
    if (!Icon().save(dir + "/qvtsplit.png", "png")) {
        std::fprintf(stderr, "qvtsplit.png: cannot write\n");
        return 1;
    }
    return 0;
}
