#include "views/level_meter.h"

#include "views/doctor_theme.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace sonorel {

namespace {

constexpr double floorDecibels = -60;

}  // namespace

double decibelsOf(float level)
{
    if (!(level > 0) || !std::isfinite(level))
        return floorDecibels;
    return std::clamp(20 * std::log10(double(level)), floorDecibels, 0.0);
}

QString decibelsText(double decibels)
{
    const long rounded = std::lround(decibels);
    const QString number = rounded < 0 ? QStringLiteral("−%1").arg(-rounded) : QString::number(rounded);
    return decibels <= floorDecibels ? number + QStringLiteral(" dBFS or less") : number + QStringLiteral(" dBFS");
}

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelMeter::setLevels(float level, float peak)
{
    const double newLevel = decibelsOf(level), newPeak = decibelsOf(peak);
    if (newLevel == m_level && newPeak == m_peak)
        return;
    m_level = newLevel;
    m_peak = newPeak;
    update();
}

QSize LevelMeter::sizeHint() const
{
    // A bar as tall as a line of small text: it follows the font, not a pixel count.
    return {fontMetrics().averageCharWidth() * 30, std::max(8, fontMetrics().height() / 2)};
}

void LevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const auto x = [&](double decibels) { return bar.left() + bar.width() * (decibels - floorDecibels) / -floorDecibels; };
    const double radius = bar.height() / 2;
    QPainterPath outline;
    outline.addRoundedRect(bar, radius, radius);
    painter.setClipPath(outline);
    painter.fillRect(bar, palette().color(QPalette::AlternateBase));
    QColor band = theme::doctorGreen;
    band.setAlphaF(0.3f);
    painter.fillRect(QRectF(QPointF(x(targetLow), bar.top()), QPointF(x(targetHigh), bar.bottom())), band);
    const QColor fill = m_peak > targetHigh ? theme::warningColor(palette()) : palette().color(QPalette::Highlight);
    painter.fillRect(QRectF(bar.topLeft(), QPointF(x(m_level), bar.bottom())), fill);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
    if (m_peak > floorDecibels)
        painter.drawLine(QPointF(x(m_peak), bar.top()), QPointF(x(m_peak), bar.bottom()));
    painter.setClipping(false);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
}

}  // namespace sonorel
