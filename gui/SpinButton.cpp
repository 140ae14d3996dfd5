// TSpinButton: two auto-repeating arrow buttons stacked on top of each other.
#include "gui/SpinButton.h"

#include <QKeyEvent>
#include <QToolButton>

namespace {
QToolButton* MakeArrowButton(QWidget* parent, Qt::ArrowType arrow) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(400);
    button->setAutoRepeatInterval(100);
    // A click must not take the focus from the field the user is typing in.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
} // namespace

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent), upButton(MakeArrowButton(this, Qt::UpArrow)),
      downButton(MakeArrowButton(this, Qt::DownArrow)) {
    upButton->setObjectName(QStringLiteral("UpButton"));
    downButton->setObjectName(QStringLiteral("DownButton"));
    // No tab stop and no focus from a click; code may still give it the focus.
    setFocusPolicy(Qt::NoFocus);
    connect(upButton, &QToolButton::clicked, this, &TSpinButton::UpClick);
    connect(downButton, &QToolButton::clicked, this, &TSpinButton::DownClick);
}

void TSpinButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        emit UpClick();
        return;
    }
    if (event->key() == Qt::Key_Down) {
        emit DownClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSpinButton::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int upper = height() / 2;
    upButton->setGeometry(0, 0, width(), upper);
    downButton->setGeometry(0, upper, width(), height() - upper);
}
