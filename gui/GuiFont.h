// GuiFont: the windows' font, chosen so that every caption fits the control that the fixed
// layout gives it, and placing a window in the centre of the screen.
#pragma once

#include <QFont>
#include <QStringList>

class QWidget;

// The platform's user-interface font at the size of the original 8-point design (11 pixels).
QFont FormFont();

// The names of the controls under root whose caption or items do not fit their width or height.
QStringList ClippedControls(QWidget* root);

// Chooses root's font so that no caption is clipped: the platform's face, else its narrower
// (semi-condensed) face, each one pixel smaller at a time down to 8 pixels; the controls keep
// their places. Returns the pixel size chosen.
int FitFontToControls(QWidget* root);

void CenterOnScreen(QWidget* window);
