// GuiFont: fitting the font to a fixed layout, and centring windows.
#include "gui/GuiFont.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QWidget>

namespace {
constexpr int DesignPixelSize = 11;
constexpr int SmallestPixelSize = 8;

// Mnemonic ampersands take no room.
QString VisibleText(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}

bool Fits(QWidget* w) {
    const QFontMetrics metrics(w->font());
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->wordWrap())
            return true;
        const QSize hint = label->sizeHint();
        return hint.width() <= label->width() && metrics.height() <= label->height();
    }
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
        const QSize hint = w->sizeHint();
        return hint.width() <= w->width() && metrics.height() <= w->height();
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        // The text with a little room on either side, inside the button's frame.
        const int frame = 2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
        return metrics.horizontalAdvance(VisibleText(button->text())) + frame <= w->width() &&
               metrics.height() + 4 <= w->height();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // The text shown, inside the frame and the edit's own margin of two pixels a side.
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->hasFrame()
                               ? w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, w)
                               : 0;
        const QRect text = w->style()->subElementRect(QStyle::SE_LineEditContents, &option, w);
        return metrics.horizontalAdvance(edit->text()) + 4 <= text.width() &&
               metrics.height() <= text.height();
    }
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return metrics.horizontalAdvance(box->title()) + 16 <= w->width();
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // The closed list draws its item in the style's own text field, one pixel in from
        // either side; every item must fit there, as any of them may be chosen.
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        const QRect field = w->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, w);
        for (int i = 0; i < combo->count(); ++i)
            if (metrics.horizontalAdvance(combo->itemText(i)) + 2 > field.width())
                return false;
        return metrics.height() <= field.height();
    }
    return true;
}
} // namespace

QFont FormFont() {
    QFont font = QApplication::font();
    font.setPixelSize(DesignPixelSize);
    return font;
}

QStringList ClippedControls(QWidget* root) {
    QStringList clipped;
    const QList<QWidget*> children = root->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (!w->objectName().isEmpty() && !Fits(w))
            clipped << w->objectName();
    return clipped;
}

int FitFontToControls(QWidget* root) {
    QFont font = root->font();
    int size = font.pixelSize() > 0 ? font.pixelSize() : DesignPixelSize;
    // The narrower face of the same family keeps the design's size; only where even that does
    // not fit does the text get smaller.
    while (true) {
        for (int stretch : {int(QFont::Unstretched), int(QFont::SemiCondensed)}) {
            font.setPixelSize(size);
            font.setStretch(stretch);
            root->setFont(font);
            if (ClippedControls(root).isEmpty())
                return size;
        }
        if (size <= SmallestPixelSize)
            return size;
        --size;
    }
}

void CenterOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}
