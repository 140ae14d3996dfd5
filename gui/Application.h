// Application: the GUI program's application object, its title and the general error display
// that catches an error escaping an event handler and shows it without ending the program.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>
#include <string>

// The application id: the launcher's file name (ID.desktop), its icon's name and the AppStream
// id. The application object gives it to the desktop, with that icon as every window's icon, so
// the desktop matches the windows to the launcher.
constexpr const char* ApplicationId = "org.quorix.Quorix";

// The application title: the text of the taskbar entry and the caption of the general error
// display.
void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

// The message with a full stop added when its last character sorts after the full stop.
std::string WithFullStop(const std::string& message);

// The general error display: a box with the application title as caption, the error icon and
// an OK button, holding the error's message (WithFullStop).
void ShowException(const std::exception& error);

// Runs an event handler; an error that escapes it is shown by the general error display, so no
// exception ever unwinds through Qt's signal delivery.
void RunHandler(const std::function<void()>& handler);

// "Application Error" box text for an error that escaped before the message loop: the error's
// kind and its message.
std::string ApplicationErrorText(const std::exception& error);

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    // Every event passes here; an error that escapes a handler reaches the general error display
    // and the program goes on with the next event.
    bool notify(QObject* receiver, QEvent* event) override;
};
