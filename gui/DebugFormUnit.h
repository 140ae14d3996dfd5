// DebugFormUnit: the debug window TDebugForm, a test bench that alternates two stored profiles.
#pragma once

#include <QWidget>

class TForm1;

class TDebugForm : public QWidget {
    Q_OBJECT
public:
    // MainForm is the main window whose settings the debug window replaces and shows.
    explicit TDebugForm(TForm1* MainForm);
};
