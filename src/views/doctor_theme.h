#pragma once

#include "diagnostics/health_summary.h"
#include "model/diagnostic_check.h"

#include <QColor>
#include <QIcon>
#include <QList>
#include <QPalette>
#include <QSize>
#include <QString>
#include <QVariant>

#include <string_view>

class QLabel;
class QLayout;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace sonorel::theme {

inline const QColor doctorGreen = QColor::fromRgbF(0.4f, 0.78f, 0.57f);
inline const QColor doctorAmber = QColor::fromRgbF(1.0f, 0.69f, 0.25f);
// The health console's dark card, top leading to bottom trailing.
inline const QColor consoleTop = QColor::fromRgbF(0.16f, 0.155f, 0.14f);
inline const QColor consoleBottom = QColor::fromRgbF(0.095f, 0.09f, 0.08f);

// White at `opacity`, for texts on the dark console.
QColor white(double opacity);
// A summary colour role on the dark console.
QColor consoleColor(HealthSummary::HealthColor role);
// A check state's label colour on the page: orange, green or the secondary text colour.
QColor stateColor(CheckState state, const QPalette& palette);
QColor secondaryText(const QPalette& palette);

// One of the bundled symbols (their names are the spec's symbol names),
// tinted: they look the same with or without an icon theme.
QIcon symbolIcon(std::string_view name, const QColor& color);
QPixmap symbolPixmap(std::string_view name, const QColor& color, int size, qreal devicePixelRatio = 1);

// Gives `target` (a button, an action, a tray item) the symbol unless it
// already shows it: a new icon lays its button out again and repaints it,
// and a tray item sends it over D-Bus, on every reading otherwise.
template <typename Target>
void showSymbol(Target* target, std::string_view name, const QColor& color)
{
    const QString key = QString::fromUtf8(name.data(), qsizetype(name.size())) + color.name(QColor::HexArgb);
    if (target->property("symbolKey").toString() == key)
        return;
    target->setProperty("symbolKey", key);
    target->setIcon(symbolIcon(name, color));
}

// The app's own icon, for its windows and where the tray has no status symbol.
QIcon appIcon();

// The primary action's look: amber, dark text, rounded.
void makePrimary(QPushButton* button);
void setPointSize(QWidget* widget, qreal points, int weight = -1);

QString qs(std::string_view text);
// A label in `colour`, at `points` (the default size when not positive).
QLabel* label(const QString& text, QWidget* parent, const QColor& colour, qreal points = -1, int weight = -1);
// A symbol as a picture, `size` pixels square.
QLabel* symbolLabel(std::string_view name, const QColor& colour, int size, QWidget* parent);
// A small secondary note that wraps.
QLabel* caption(const QString& text, QWidget* parent);
// A section's title inside a page.
QLabel* sectionTitle(const QString& text, QWidget* parent);
// A thin line between rows, starting `indent` pixels in.
QWidget* divider(QWidget* parent, int indent = 0);
// Empties a layout of rebuilt rows. The widgets go later: one of their
// buttons may be the sender whose click rebuilt them.
void discardRows(QLayout* layout);
void discardRow(QWidget* row);
// Orange for problems, darker on light backgrounds so the text stays readable.
QColor warningColor(const QPalette& palette);
// A page's column: named for automation, with the pages' margins.
QVBoxLayout* pageLayout(QWidget* page, const QString& name);
// Buttons side by side at the leading edge, `trailing` ones at the far end.
QWidget* buttonRow(QWidget* parent, const QList<QWidget*>& leading, const QList<QWidget*>& trailing = {});
// A page's heading: its title over one line of detail in the secondary colour.
QWidget* sectionHeading(const QString& title, const QString& detail, QWidget* parent);
// A window's first size: `wanted`, or less where the screen it opens on has less room.
void resizeWithinScreen(QWidget* window, QSize wanted);

}  // namespace sonorel::theme
