// TSpinButton: a pair of up/down buttons without an edit of its own, like the one that sits at
// the right end of the write-allocation limit field.
#pragma once

#include <QWidget>

class QToolButton;

class TSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget* parent = nullptr);

    QToolButton* UpButton() const { return upButton; }
    QToolButton* DownButton() const { return downButton; }

signals:
    // Raised once per press and again while a button is held down (first after 400 ms, then
    // every 100 ms), and by the Up and Down arrow keys while the control has the focus.
    void UpClick();
    void DownClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* upButton;
    QToolButton* downButton;
};
