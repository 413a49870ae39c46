#include "windows/AboutPicture.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace zelvano {

namespace {

void DrawBackground(QPainter& p, const QRectF& area) {
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0.0, QColor(0, 0, 160));
    sky.setColorAt(1.0, QColor(70, 130, 220));
    p.fillRect(area, sky);
}

void DrawWaves(QPainter& p, const QPointF& source, double unit) {
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        p.setPen(QPen(QColor(255, 255, 128), unit * 0.05, Qt::SolidLine, Qt::RoundCap));
        const double r = unit * 0.16 * i;
        const QRectF ring(source.x() - r, source.y() - r, 2 * r, 2 * r);
        p.drawArc(ring, 20 * 16, 50 * 16);
        p.drawArc(ring, 110 * 16, 50 * 16);
    }
}

void DrawPager(QPainter& p, const QRectF& body) {
    const double unit = body.width();
    QPainterPath outline;
    outline.addRoundedRect(body, unit * 0.12, unit * 0.12);
    p.setPen(QPen(Qt::black, unit * 0.02));
    p.setBrush(QColor(60, 60, 60));
    p.drawPath(outline);

    const QRectF screen(body.left() + unit * 0.1, body.top() + unit * 0.12, unit * 0.8,
                        body.height() * 0.42);
    p.setBrush(QColor(150, 200, 140));
    p.setPen(QPen(QColor(20, 20, 20), unit * 0.015));
    p.drawRect(screen);

    QFont font("DejaVu Sans Mono");
    font.setPixelSize(static_cast<int>(screen.height() * 0.32));
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(20, 40, 20));
    p.drawText(screen, Qt::AlignCenter, "ESPA\n4.4.4");

    // The three keys under the screen.
    p.setBrush(QColor(192, 192, 0));
    p.setPen(Qt::NoPen);
    const double keyWidth = unit * 0.2;
    const double keyTop = screen.bottom() + body.height() * 0.14;
    for (int i = 0; i < 3; ++i) {
        const double left = body.left() + unit * 0.1 + i * unit * 0.3;
        p.drawRoundedRect(QRectF(left, keyTop, keyWidth, body.height() * 0.14), 3, 3);
    }
}

}  // namespace

QPixmap DrawAboutPicture(int width, int height) {
    QPixmap picture(width, height);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, width, height);
    DrawBackground(p, area);

    const double bodyWidth = width * 0.46;
    const QRectF body((width - bodyWidth) / 2, height * 0.36, bodyWidth, height * 0.46);
    DrawWaves(p, QPointF(width / 2.0, body.top()), width);
    DrawPager(p, body);

    QFont title("DejaVu Sans");
    title.setPixelSize(std::max(10, height / 9));
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, height * 0.83, width, height * 0.16), Qt::AlignCenter, "Zelvano");
    return picture;
}

}  // namespace zelvano
