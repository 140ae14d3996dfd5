// Application: the general error display and the application object that routes to it.
#include "gui/Application.h"

#include <QIcon>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

#include "gui/Dialogs.h"

namespace {
std::string& Title() {
    static std::string title;
    return title;
}

std::string TypeName(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? demangled.get() : mangled;
}
} // namespace

void SetApplicationTitle(const std::string& title) {
    Title() = title;
    if (QCoreApplication::instance())
        QCoreApplication::setApplicationName(QString::fromStdString(title));
}

std::string ApplicationTitle() {
    return Title();
}

std::string WithFullStop(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

void ShowException(const std::exception& error) {
    ShowMessageBox(ApplicationTitle(), WithFullStop(error.what()), BoxIcon::Error);
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

std::string ApplicationErrorText(const std::exception& error) {
    return "Exception " + TypeName(error) + ".\r\n" + WithFullStop(error.what());
}

namespace {
// The icon theme's icon of the launcher where one is installed (a theme of the user's may
// replace it), else the same pictures compiled into the program.
QIcon LauncherIcon() {
    QIcon compiledIn;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        compiledIn.addFile(QString(":/icons/%1x%1/apps/%2.png").arg(size).arg(ApplicationId));
    return QIcon::fromTheme(ApplicationId, compiledIn);
}
} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setDesktopFileName(ApplicationId);
    setWindowIcon(LauncherIcon());
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}
