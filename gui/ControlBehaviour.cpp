// ControlBehaviour: proxies over the application's style for single controls, and the keys of
// a group of radio buttons.
#include "gui/ControlBehaviour.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProxyStyle>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOptionTab>
#include <algorithm>

namespace {
// A proxy over a style of the application's kind of its own, as a style set on a control must
// not take the application's style from it.
class ControlStyle : public QProxyStyle {
public:
    explicit ControlStyle(QObject* owner)
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {
        setParent(owner);
    }
};

class CountedList : public ControlStyle {
public:
    using ControlStyle::ControlStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_ComboBox_Popup)
            return 0;
        return ControlStyle::styleHint(hint, option, widget, returnData);
    }
};

class HotTrackingTabs : public ControlStyle {
public:
    using ControlStyle::ControlStyle;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
        if (element == CE_TabBarTabLabel && tab && (tab->state & State_MouseOver) &&
            (tab->state & State_Enabled) && !(tab->state & State_Selected)) {
            QStyleOptionTab hot = *tab;
            hot.palette.setColor(QPalette::WindowText, tab->palette.color(QPalette::Highlight));
            hot.palette.setColor(QPalette::ButtonText, tab->palette.color(QPalette::Highlight));
            ControlStyle::drawControl(element, &hot, painter, widget);
            return;
        }
        ControlStyle::drawControl(element, option, painter, widget);
    }
};

class RadioGroupKeys : public QObject {
public:
    RadioGroupKeys(const std::vector<QRadioButton*>& buttons)
        : QObject(buttons.front()), buttons(buttons) {
        for (QRadioButton* button : buttons) {
            button->installEventFilter(this);
            connect(button, &QRadioButton::toggled, this, [this] { KeepTabStop(); });
        }
        KeepTabStop();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        const int step = key->key() == Qt::Key_Up || key->key() == Qt::Key_Left      ? -1
                         : key->key() == Qt::Key_Down || key->key() == Qt::Key_Right ? 1
                                                                                     : 0;
        const auto at = std::find(buttons.begin(), buttons.end(), watched);
        if (step == 0 || at == buttons.end())
            return false;
        const int count = static_cast<int>(buttons.size());
        int index = static_cast<int>(at - buttons.begin());
        for (int tried = 1; tried < count; ++tried) {
            index = (index + step + count) % count;
            QRadioButton* next = buttons[static_cast<size_t>(index)];
            if (next->isEnabled() && next->isVisibleTo(next->window())) {
                next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
                if (!next->isChecked())
                    next->click();
                break;
            }
        }
        return true;
    }

private:
    void KeepTabStop() {
        const bool anyChecked = std::any_of(buttons.begin(), buttons.end(),
                                            [](QRadioButton* b) { return b->isChecked(); });
        for (QRadioButton* button : buttons) {
            const bool stop = button->isChecked() || (!anyChecked && button == buttons.front());
            button->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
        }
    }

    std::vector<QRadioButton*> buttons;
};
} // namespace

QStyle* CountedListStyle(QObject* owner) {
    return new CountedList(owner);
}

QStyle* HotTrackingTabStyle(QObject* owner) {
    return new HotTrackingTabs(owner);
}

void MakeRadioGroup(const std::vector<QRadioButton*>& buttons) {
    if (!buttons.empty())
        new RadioGroupKeys(buttons);
}
