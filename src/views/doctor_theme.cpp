#include "views/doctor_theme.h"

#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QHash>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSvgRenderer>
#include <QVBoxLayout>

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

QColor warningColor(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() > 128 ? QColor(0xc2, 0x5e, 0x00) : QColor(0xff, 0x9f, 0x0a);
}

QColor stateColor(CheckState state, const QPalette& palette)
{
    switch (state) {
    case CheckState::warning:
    case CheckState::issue:
        return warningColor(palette);
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

namespace {

// Renders a tinted symbol at the size asked for, when it is asked for.
class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(QString name, QColor color) : m_name(std::move(name)), m_color(color) {}
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QColor color = m_color;
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.4f);
        const int side = std::min(size.width(), size.height());
        return symbolPixmap(m_name.toStdString(), color, side, scale);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }
    QIconEngine* clone() const override { return new SymbolEngine(m_name, m_color); }

private:
    QString m_name;
    QColor m_color;
};

}  // namespace

QIcon symbolIcon(std::string_view name, const QColor& color)
{
    // Views ask again on every reading: the same icon, not a new one.
    static QHash<QString, QIcon> made;
    const QString key = QString::fromUtf8(name.data(), qsizetype(name.size())) + QLatin1Char('|') + color.name(QColor::HexArgb);
    auto found = made.find(key);
    if (found == made.end())
        found = made.insert(key, QIcon(new SymbolEngine(QString::fromUtf8(name.data(), qsizetype(name.size())), color)));
    return *found;
}

QIcon appIcon()
{
    registerSymbols();
    return QIcon(QStringLiteral(":/symbols/app.svg"));
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

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QLabel* label(const QString& text, QWidget* parent, const QColor& colour, qreal points, int weight)
{
    auto* l = new QLabel(text, parent);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, colour);
    l->setPalette(palette);
    if (points > 0 || weight >= 0)
        setPointSize(l, points > 0 ? points : l->font().pointSizeF(), weight);
    return l;
}

QLabel* symbolLabel(std::string_view name, const QColor& colour, int size, QWidget* parent)
{
    auto* symbol = new QLabel(parent);
    symbol->setPixmap(symbolPixmap(name, colour, size, parent ? parent->devicePixelRatioF() : 1));
    return symbol;
}

QLabel* caption(const QString& text, QWidget* parent)
{
    QLabel* note = label(text, parent, secondaryText(parent->palette()), 8.5);
    note->setWordWrap(true);
    return note;
}

QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    auto* title = new QLabel(text, parent);
    setPointSize(title, 11.5, QFont::DemiBold);
    return title;
}

QWidget* divider(QWidget* parent, int indent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: palette(mid); margin-left: %1px;").arg(indent));
    return line;
}

void discardRow(QWidget* row)
{
    row->hide();
    row->setParent(nullptr);
    row->deleteLater();
}

void discardRows(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            discardRow(widget);
        delete item;
    }
}

QVBoxLayout* pageLayout(QWidget* page, const QString& name)
{
    page->setObjectName(name);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(28, 24, 28, 28);
    layout->setSpacing(18);
    return layout;
}

QWidget* buttonRow(QWidget* parent, const QList<QWidget*>& leading, const QList<QWidget*>& trailing)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QWidget* button : leading) {
        button->setParent(row);
        layout->addWidget(button);
    }
    layout->addStretch();
    for (QWidget* button : trailing) {
        button->setParent(row);
        layout->addWidget(button);
    }
    return row;
}

QWidget* sectionHeading(const QString& title, const QString& detail, QWidget* parent)
{
    auto* heading = new QWidget(parent);
    auto* box = new QVBoxLayout(heading);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(4);
    auto* titleLabel = new QLabel(title, heading);
    setPointSize(titleLabel, 11, QFont::Medium);
    auto* detailLabel = label(detail, heading, secondaryText(heading->palette()));
    detailLabel->setWordWrap(true);
    box->addWidget(titleLabel);
    box->addWidget(detailLabel);
    return heading;
}

void resizeWithinScreen(QWidget* window, QSize wanted)
{
    // The desktop adds its title bar and borders, which Qt learns only once the
    // window shows: the style's own measures stand in for them.
    const QStyle* style = window->style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    const int title = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    const QSize room = window->screen()->availableGeometry().size() - QSize(2 * border, title + 2 * border);
    window->resize(wanted.boundedTo(room));
}

}  // namespace sonorel::theme
