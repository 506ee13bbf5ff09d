#include "views/doctor_theme.h"

#include <QFile>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

// The symbols live in a static library: their resources are registered by hand.
static void registerSymbols()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    (void)registered;
}

namespace sonorel::theme {

QColor white(double opacity)
{
    QColor colour(Qt::white);
    colour.setAlphaF(float(opacity));
    return colour;
}

QColor consoleColor(HealthSummary::HealthColor role)
{
    switch (role) {
    case HealthSummary::HealthColor::healthy:
        return doctorGreen;
    case HealthSummary::HealthColor::attention:
        return doctorAmber;
    case HealthSummary::HealthColor::note:
        return white(0.45);
    case HealthSummary::HealthColor::unknown:
        break;
    }
    return white(0.14);
}

QColor secondaryText(const QPalette& palette)
{
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.62f);
    return colour;
}

QColor stateColor(CheckState state, const QPalette& palette)
{
    switch (state) {
    case CheckState::warning:
    case CheckState::issue:
        // A darker orange on light backgrounds keeps the label readable.
        return palette.color(QPalette::Window).lightness() > 128 ? QColor(0xc2, 0x5e, 0x00) : QColor(0xff, 0x9f, 0x0a);
    case CheckState::passed:
        return palette.color(QPalette::Window).lightness() > 128 ? QColor(0x1b, 0x7f, 0x3b) : doctorGreen;
    case CheckState::note:
    case CheckState::unknown:
        break;
    }
    return secondaryText(palette);
}

QPixmap symbolPixmap(std::string_view name, const QColor& color, int size, qreal devicePixelRatio)
{
    registerSymbols();
    const QString path = QStringLiteral(":/symbols/%1.svg").arg(QLatin1String(name.data(), qsizetype(name.size())));
    QSvgRenderer renderer(path);
    const int pixels = int(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon symbolIcon(std::string_view name, const QColor& color)
{
    QIcon icon;
    for (const int size : {16, 24, 32})
        for (const qreal ratio : {1.0, 2.0})
            icon.addPixmap(symbolPixmap(name, color, size, ratio));
    return icon;
}

void makePrimary(QPushButton* button)
{
    button->setProperty("primary", true);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background: %1; color: #1d1a14; border: none; border-radius: 8px; padding: 7px 16px;"
        " font-weight: 600; }"
        "QPushButton:hover { background: %2; }"
        "QPushButton:focus { outline: none; border: 2px solid palette(highlight); }"
        "QPushButton:disabled { background: rgba(255, 176, 64, 90); color: rgba(29, 26, 20, 140); }")
                              .arg(doctorAmber.name(), doctorAmber.lighter(110).name()));
}

void setPointSize(QWidget* widget, qreal points, int weight)
{
    QFont font = widget->font();
    font.setPointSizeF(points);
    if (weight >= 0)
        font.setWeight(QFont::Weight(weight));
    widget->setFont(font);
}

}  // namespace sonorel::theme
