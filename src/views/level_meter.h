#pragma once

#include <QWidget>

namespace sonorel {

// A microphone level in decibels below full scale, from -60 dBFS to 0, with
// the band speech should reach shaded, so that good and too loud look apart.
class LevelMeter final : public QWidget {
public:
    // Speech peaks belong between these two.
    static constexpr double targetLow = -18;
    static constexpr double targetHigh = -6;

    explicit LevelMeter(QWidget* parent = nullptr);
    // Levels from 0 to 1 of full scale: the current one and the loudest peak.
    void setLevels(float level, float peak);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_level = -60;
    double m_peak = -60;
};

// A level from 0 to 1 as decibels below full scale, no lower than -60.
double decibelsOf(float level);
// "−24 dBFS"; "−60 dBFS or less" at the floor.
QString decibelsText(double decibels);

}  // namespace sonorel
