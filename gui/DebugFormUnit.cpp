// DebugFormUnit: placeholder window until the debug bench is built.
#include "gui/DebugFormUnit.h"

#include "gui/Unit1.h"

TDebugForm::TDebugForm(TForm1* MainForm) : QWidget(MainForm, Qt::Window) {
    setObjectName(QStringLiteral("DebugForm"));
    setWindowTitle(QStringLiteral("DebugForm"));
}
