// Dialogs: the real modal boxes behind the replaceable functions of Dialogs.h.
#include "gui/Dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "gui/QtText.h"

namespace {
QPointer<QWidget>& DialogParent() {
    static QPointer<QWidget> parent;
    return parent;
}

// A message may quote a profile name in the registry's own encoding.
QString DisplayText(const std::string& text) {
    QString result = ReadableText(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

int& ParentModalScopes() {
    static int scopes = 0;
    return scopes;
}

QMessageBox::Icon QtIcon(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void ShowQtMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) {
    QMessageBox box(QtIcon(icon), QString::fromStdString(caption), DisplayText(text),
                    QMessageBox::Ok, DialogParent().data());
    if (ParentModalScopes() > 0 && DialogParent())
        box.setWindowModality(Qt::WindowModal);
    box.exec();
}

bool ShowQtConfirm(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), DisplayText(text),
                    QMessageBox::Ok | QMessageBox::Cancel, DialogParent().data());
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

namespace {
void RealBeep() {
    QApplication::beep();
}

MessageBoxFunction& CurrentMessageBox() {
    static MessageBoxFunction function;
    return function;
}
ConfirmFunction& CurrentConfirm() {
    static ConfirmFunction function;
    return function;
}
BeepFunction& CurrentBeep() {
    static BeepFunction function;
    return function;
}
} // namespace

void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) {
    if (CurrentMessageBox())
        CurrentMessageBox()(caption, text, icon);
    else
        ShowQtMessageBox(caption, text, icon);
}

void ShowMessageOutputBox(const std::string& caption, const std::string& text,
                          MessageBoxKind kind) {
    ShowMessageBox(caption, text,
                   kind == MessageBoxKind::Error ? BoxIcon::Error : BoxIcon::Information);
}

bool ConfirmBox(const std::string& text) {
    if (CurrentConfirm())
        return CurrentConfirm()("Confirm", text);
    return ShowQtConfirm("Confirm", text);
}

void Beep() {
    if (CurrentBeep())
        CurrentBeep()();
    else
        RealBeep();
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
    MessageBoxFunction old = std::move(CurrentMessageBox());
    CurrentMessageBox() = std::move(function);
    return old;
}

ConfirmFunction SetConfirmFunction(ConfirmFunction function) {
    ConfirmFunction old = std::move(CurrentConfirm());
    CurrentConfirm() = std::move(function);
    return old;
}

BeepFunction SetBeepFunction(BeepFunction function) {
    BeepFunction old = std::move(CurrentBeep());
    CurrentBeep() = std::move(function);
    return old;
}

void SetDialogParent(QWidget* parent) {
    DialogParent() = parent;
}

ParentModalBoxes::ParentModalBoxes() {
    ++ParentModalScopes();
}

ParentModalBoxes::~ParentModalBoxes() {
    --ParentModalScopes();
}

const char* BoxIconName(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return "error";
    case BoxIcon::Information:
        return "information";
    case BoxIcon::Question:
        return "question";
    }
    return "none";
}
