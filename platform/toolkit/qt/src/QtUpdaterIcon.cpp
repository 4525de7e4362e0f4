#include "QtUpdaterIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <numbers>

namespace platform {

namespace {

constexpr int iconSize = 32;

void drawBox(QPainter& painter) {
    painter.setPen(QPen(QColor(92, 58, 20), 1.5));
    painter.setBrush(QColor(222, 168, 72));
    painter.drawRect(QRectF(6.5, 17.5, 19, 12));
    // The lid.
    painter.setBrush(QColor(240, 192, 100));
    painter.drawRect(QRectF(5.5, 15.5, 21, 4));
}

void drawCircularArrow(QPainter& painter) {
    const QPointF centre(16, 10);
    const double radius = 7;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    const double startDegrees = 40;
    const double spanDegrees = 280;

    painter.setPen(QPen(QColor(32, 72, 150), 3, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(circle, static_cast<int>(startDegrees * 16),
                    static_cast<int>(spanDegrees * 16));

    // The head sits at the arc's end and points along its direction.
    const double end = (startDegrees + spanDegrees) * std::numbers::pi / 180;
    const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    const QPointF along(-std::sin(end), -std::cos(end));
    const QPointF across(std::cos(end), -std::sin(end));
    QPainterPath head;
    head.moveTo(tip + along * 4.5);
    head.lineTo(tip + across * 4);
    head.lineTo(tip - across * 4);
    head.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(32, 72, 150));
    painter.drawPath(head);
}

} // namespace

QIcon makeUpdaterIcon() {
    QPixmap pixmap(iconSize, iconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBox(painter);
    drawCircularArrow(painter);
    painter.end();
    return QIcon(pixmap);
}

} // namespace platform
