// TTrackBar: a slider that can show no position until the user picks one.
#include "gui/TrackBar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void TTrackBar::SetPositionShown(bool shown) {
    if (shown != positionShown) {
        positionShown = shown;
        update();
    }
}

void TTrackBar::paintEvent(QPaintEvent* event) {
    if (positionShown) {
        QSlider::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    // Groove and ticks only; styles that fill the groove up to the thumb fill nothing.
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    option.activeSubControls = QStyle::SC_None;
    option.sliderPosition = option.sliderValue = minimum();
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}

void TTrackBar::mousePressEvent(QMouseEvent* event) {
    if (positionShown || event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect thumb =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const bool horizontal = orientation() == Qt::Horizontal;
    const QPoint at = event->position().toPoint();
    const int length = horizontal ? thumb.width() : thumb.height();
    const int offset = horizontal ? at.x() - groove.x() : at.y() - groove.y();
    const int span = (horizontal ? groove.width() : groove.height()) - length;
    event->accept();
    Pick(QStyle::sliderValueFromPosition(minimum(), maximum(), offset - length / 2, span,
                                         option.upsideDown));
}

void TTrackBar::keyPressEvent(QKeyEvent* event) {
    const int before = value();
    QSlider::keyPressEvent(event);
    if (positionShown || !event->isAccepted())
        return;
    // A key that moved the value has raised valueChanged already; one that could not move it
    // (Home at the first position) still picks it.
    if (value() != before)
        SetPositionShown(true);
    else
        Pick(value());
}

void TTrackBar::Pick(int picked) {
    SetPositionShown(true);
    if (picked == value())
        emit valueChanged(picked);
    else
        setValue(picked);
}
