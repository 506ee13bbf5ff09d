#include "views/health_dial.h"

#include "diagnostics/health_summary.h"
#include "views/doctor_theme.h"

#include <QPainter>
#include <QPainterPath>

namespace sonorel {

HealthDial::HealthDial(QWidget* parent) : QWidget(parent)
{
    setFixedSize(126, 126);
    setAccessibleName(QStringLiteral("Audio health"));
}

void HealthDial::show(const std::vector<DiagnosticCheck>& checks, bool fixing)
{
    // A reading that changes no check repaints nothing.
    if (checks == m_checks && fixing == m_fixing && !m_checks.empty())
        return;
    m_checks = checks;
    m_fixing = fixing;
    setAccessibleDescription(QString::fromStdString(HealthSummary::healthDialValue(checks)));
    update();
}

void HealthDial::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ring = QRectF(rect()).adjusted(3, 3, -3, -3);
    painter.setPen(QPen(theme::white(0.045), 5));
    painter.drawEllipse(ring);
    for (const auto& arc : HealthSummary::healthDialArcs(m_checks)) {
        painter.setPen(QPen(theme::consoleColor(arc.color), 5, Qt::SolidLine, Qt::RoundCap));
        // Qt counts angles anticlockwise from three o'clock in 1/16 degrees.
        const int start = int((90 - arc.start * 360) * 16);
        const int span = int(-(arc.end - arc.start) * 360 * 16);
        painter.drawArc(ring, start, span);
    }
    const auto centre = HealthSummary::healthDialCentre(m_fixing);
    const QPixmap symbol = theme::symbolPixmap(centre.symbolName, Qt::white, 34, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - 34) / 2.0, height() / 2.0 - 30), symbol);
    QFont caption(QStringLiteral("monospace"));
    caption.setStyleHint(QFont::Monospace);
    caption.setPixelSize(9);
    caption.setWeight(QFont::Medium);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 1.8);
    painter.setFont(caption);
    painter.setPen(theme::white(0.45));
    painter.drawText(QRectF(0, height() / 2.0 + 10, width(), 14), Qt::AlignCenter,
                     QString::fromStdString(centre.caption));
}

}  // namespace sonorel
