// Unit2: the save-profile dialog TSaveProfileDialog, in which the user names the settings to be
// saved as a profile.
#pragma once

#include <QDialog>

#include "engine/Tweak.h"

class QComboBox;
class QLabel;
class QPushButton;

class TSaveProfileDialog : public QDialog {
    Q_OBJECT
public:
    // Builds the controls and runs FormCreate.
    explicit TSaveProfileDialog(QWidget* parent = nullptr);

    // The settings to save: the main window puts a copy of its record here before showing the
    // dialog.
    SettingsTp ProfileSettings;

    QLabel* Label1;
    QComboBox* SaveEdit;
    QPushButton* OK;
    QPushButton* Cancel;

public slots:
    void FormCreate(QObject* sender = nullptr);
    void OKClick(QObject* sender = nullptr);
    void CancelClick(QObject* sender = nullptr);

public:
    // key is the typed character (13 Enter, 27 Escape); a handler swallows it by setting it to 0.
    void SaveEditKeyPress(QObject* sender, char& key);
    // Sees every key of the dialog before the control it is typed into.
    void FormKeyPress(QObject* sender, char& key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
