// TTrackBar: the multiplier's slider, which can also show no position at all. While the ratio
// is unknown no thumb is drawn, so none can be mistaken for the processor's ratio, and the
// user's first pick takes the ratio under the pointer (or the key's) at once, even where the
// hidden position stood.
#pragma once

#include <QSlider>

class TTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBar(QWidget* parent = nullptr);

    // Shows the thumb at value(), or no thumb.
    void SetPositionShown(bool shown);
    bool PositionShown() const { return positionShown; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The user picked a position: it is shown, and valueChanged is raised even when the value
    // stays, as a pick of the hidden position is still the user's choice.
    void Pick(int value);

    bool positionShown = true;
};
