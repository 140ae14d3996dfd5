// Unit2: the save-profile dialog.
#include "gui/Unit2.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>
#include <vector>

#include "common/General.h"
#include "gui/Application.h"
#include "gui/Dialogs.h"
#include "gui/GuiFont.h"
#include "gui/ProfileNames.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"

namespace {
// The character a key press types, as the dialog's key handlers see it; 0 for keys that type
// nothing (arrows, function keys).
char TypedCharacter(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Backspace:
        return 8;
    default:
        break;
    }
    const QString text = event->text();
    if (text.size() == 1 && text.at(0).unicode() < 128)
        return static_cast<char>(text.at(0).unicode());
    return 0;
}
} // namespace

TSaveProfileDialog::TSaveProfileDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("SaveProfileDialog"));
    setWindowTitle(QStringLiteral("Vantrel - Save Profile"));
    setModal(true);
    setFont(FormFont());
    setFixedSize(210, 107);

    Label1 = new QLabel(QStringLiteral("Please enter a name for this profile"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(24, 8, 180, 16);
    SaveEdit = new QComboBox(this);
    SaveEdit->setObjectName(QStringLiteral("SaveEdit"));
    SaveEdit->setEditable(true);
    SaveEdit->setInsertPolicy(QComboBox::NoInsert);
    SaveEdit->setGeometry(24, 36, 161, 21);
    OK = new QPushButton(QStringLiteral("OK"), this);
    OK->setObjectName(QStringLiteral("OK"));
    OK->setGeometry(16, 76, 75, 25);
    // Enter on a focused button presses it; Enter in the name field saves (SaveEditKeyPress).
    OK->setAutoDefault(true);
    Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Cancel->setObjectName(QStringLiteral("Cancel"));
    Cancel->setGeometry(108, 76, 75, 25);
    Cancel->setAutoDefault(true);
    FitFontToControls(this);

    // Key preview: the dialog sees every key before the control that has the focus.
    for (QObject* control :
         {static_cast<QObject*>(SaveEdit), static_cast<QObject*>(SaveEdit->lineEdit()),
          static_cast<QObject*>(OK), static_cast<QObject*>(Cancel), static_cast<QObject*>(this)})
        control->installEventFilter(this);

    connect(OK, &QPushButton::clicked, this, [this] { RunHandler([this] { OKClick(OK); }); });
    connect(Cancel, &QPushButton::clicked, this,
            [this] { RunHandler([this] { CancelClick(Cancel); }); });

    RunHandler([this] { FormCreate(this); });
    SaveEdit->setFocus();
    CenterOnScreen(this);
}

void TSaveProfileDialog::FormCreate(QObject*) {
    std::vector<std::string> names;
    try {
        GetProfileNames(names);
    } catch (const RegistryError& error) {
        // The main window has reported the unreadable file and greys its Save button while it
        // stays so; the dialog made at start-up stays hidden, and a save would report it again.
        if (error.Kind() != RegistryErrorKind::FileUnusable)
            throw;
    }
    ShowProfileNames(*SaveEdit, names);
    SaveEdit->setCurrentIndex(-1);
    SaveEdit->setEditText(QString());
}

void TSaveProfileDialog::OKClick(QObject*) {
    // A name chosen from the list overwrites that very profile, whatever its encoding.
    const std::string name = ProfileNameInField(*SaveEdit);
    if (name.empty()) {
        Beep();
        return;
    }
    if (ProfileExists(name) &&
        !ConfirmBox("Profile " + VisibleText(name) + " already exists. Overwrite?"))
        return;
    SaveProfile(name, ProfileSettings);
    if (name == StartupProfileName)
        SetAutoApply(true, ProfileSettings);
    accept();
}

void TSaveProfileDialog::CancelClick(QObject*) {
    reject();
}

void TSaveProfileDialog::SaveEditKeyPress(QObject*, char& key) {
    if (key == 13) {
        key = 0;
        OKClick(SaveEdit);
    } else if (key == ' ' || key == '\\') {
        key = 0;
        Beep();
    }
}

void TSaveProfileDialog::FormKeyPress(QObject*, char& key) {
    if (key == 27) {
        key = 0;
        CancelClick(this);
    }
}

bool TSaveProfileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    // A user's keys arrive at the combo box, which holds the focus for its edit and hands each
    // key to the edit by a direct call that no filter sees; so the name field's keys are handled
    // where they arrive, at the combo box or (when the edit itself has the focus) at the edit.
    char key = TypedCharacter(static_cast<QKeyEvent*>(event));
    if (key == 0)
        return QDialog::eventFilter(watched, event);
    const bool nameField = watched == SaveEdit || watched == SaveEdit->lineEdit();
    bool swallowed = false;
    RunHandler([&] {
        FormKeyPress(watched, key);
        if (key != 0 && nameField)
            SaveEditKeyPress(SaveEdit, key);
        swallowed = key == 0;
    });
    return swallowed || QDialog::eventFilter(watched, event);
}
