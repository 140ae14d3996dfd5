// qrx: the GUI program block. It opens the driver, lets the command line act, and only when the
// command line asks for the window builds the forms and runs the message loop. This is the
// composition root: it picks the real message boxes, the profile switches of the command line
// and the help file for everything else.
#include <QCloseEvent>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "cmdline/commandline.h"
#include "common/Messages.h"
#include "driver/wintweak.h"
#include "gui/Application.h"
#include "gui/ContextHelp.h"
#include "gui/DebugFormUnit.h"
#include "gui/Dialogs.h"
#include "gui/Unit1.h"
#include "gui/Unit2.h"
#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/Files.h"
#include "profiles/SaveLoad.h"

namespace {
int applicationArgc = 1;
char applicationName[] = "qrx";
char* applicationArgv[] = {applicationName, nullptr};
std::unique_ptr<TApplication> application;

// A box needs a display. The application object is made on the first box or for the window,
// so the silent path ("/Q") also runs where no display exists.
bool DisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

bool EnsureApplication() {
    if (!application) {
        if (!DisplayAvailable())
            return false;
        application = std::make_unique<TApplication>(applicationArgc, applicationArgv);
        SetApplicationTitle(ApplicationTitle());
    }
    return true;
}

// Without a display a message would be lost; standard error keeps it for the log of whatever
// started the program.
std::string OneLine(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.replace(at, 2, " ");
    return text;
}

void ShowBoxOrWriteLine(const std::string& caption, const std::string& text, BoxIcon icon) {
    if (EnsureApplication())
        ShowQtMessageBox(caption, text, icon);
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), OneLine(text).c_str());
}

// QRX_DIALOG_LOG names a file ("-" for standard output) that receives every box, one line each,
// instead of showing it; confirmations are answered Cancel. It lets scripts and the integration
// tests drive the program without anybody closing boxes.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

void WriteLineTo(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// The log is a regular file only: a named pipe in its place would wait for a reader for ever.
// A line that cannot be written there goes to standard error, after one line saying why, so no
// message is lost unseen.
void LogLine(const std::string& line) {
    const std::string target = std::getenv("QRX_DIALOG_LOG");
    if (target == "-") {
        WriteLineTo(stdout, line);
        return;
    }
    int fd = -1;
    std::string cause;
    const qrxposix::FileOutcome outcome =
        qrxposix::OpenRegularFile(target, O_WRONLY | O_APPEND | O_CREAT, 0644, fd, cause);
    const bool written =
        outcome == qrxposix::FileOutcome::Regular && qrxposix::WriteAll(fd, line + "\n");
    if (!written && cause.empty())
        cause = std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    if (written)
        return;
    static bool told = false;
    if (!told)
        std::fprintf(stderr, "qrx: QRX_DIALOG_LOG %s cannot be written: %s; its lines go here\n",
                     qrxposix::VisibleControls(target).c_str(),
                     qrxposix::VisibleControls(cause).c_str());
    told = true;
    WriteLineTo(stderr, line);
}

void InstallBoxes() {
    const char* log = std::getenv("QRX_DIALOG_LOG");
    if (log && *log) {
        SetMessageBoxFunction(
            [](const std::string& caption, const std::string& text, BoxIcon icon) {
                LogLine("Box\t" + caption + "\t" + BoxIconName(icon) + "\t" + Escaped(text));
            });
        SetConfirmFunction([](const std::string& caption, const std::string& text) {
            LogLine("Confirm\t" + caption + "\tquestion\t" + Escaped(text));
            return false;
        });
        SetBeepFunction([] { LogLine("Beep"); });
    } else {
        SetMessageBoxFunction(ShowBoxOrWriteLine);
    }
}

// Every path that ends without the window: an error shown, or a failed driver request, means
// something was not done as asked. The driver handle is released as the end of the process would
// release it.
int StatusWithoutWindow() {
    UnloadDriver();
    const std::string failed = FailedRequestSummary();
    if (!failed.empty())
        std::fprintf(stderr, "qrx: %s\n", failed.c_str());
    return ErrorCount() > 0 || !failed.empty() ? 1 : 0;
}

// Closing the main window ends the message loop, whatever other windows are open.
class MainWindowCloser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && event->isAccepted())
            QCoreApplication::quit();
        return QObject::eventFilter(watched, event);
    }
};

// The application object is made on demand but must end with main, on every path out of it: Qt
// tears its own global state down in the exit handlers, before this unit's statics, and a
// QApplication destroyed after that crashes the program on its way out.
class ApplicationScope {
public:
    ApplicationScope() = default;
    ~ApplicationScope() { application.reset(); }
    ApplicationScope(const ApplicationScope&) = delete;
    ApplicationScope& operator=(const ApplicationScope&) = delete;
};
} // namespace

int main(int argc, char** argv) {
    const ApplicationScope applicationScope;
    SetApplicationTitle("Quorix");
    InstallBoxes();
    SetMessageBoxOutput(ShowMessageOutputBox);

    try {
        if (!LoadDriver()) {
            ShowError("Unable to load VXD.");
            return StatusWithoutWindow();
        }
        SetParameterList(argc, argv);
        // "/L" and "/Q" are this program's own; "/L" reads the profile store.
        InstallProfileSwitches(ProfileExists, LoadProfile);
        if (!ProcessCommandLine())
            return StatusWithoutWindow();
    } catch (const std::exception& error) {
        ShowMessageBox("Application Error", ApplicationErrorText(error), BoxIcon::Error);
        UnloadDriver();
        return 1;
    }

    if (!EnsureApplication()) {
        std::fprintf(stderr, "qrx: no display to open the window on (DISPLAY is not set). "
                             "Use /Q to apply settings without the window.\n");
        return 1;
    }
    SetApplicationTitle("Quorix");
    SetHelpFile(DefaultHelpFile());

    int status = 0;
    {
        TForm1 form1;
        SetDialogParent(&form1);
        if (form1.Terminated) {
            // A newer version's registry data: nothing more is created or written.
            status = StatusWithoutWindow();
        } else {
            TSaveProfileDialog saveProfileDialog;
            // The main window owns it; it stays hidden, as every debug window does until opened.
            new TDebugForm(&form1);
            MainWindowCloser closer;
            form1.installEventFilter(&closer);
            form1.show();
            if (std::getenv("QRX_DIALOG_LOG") && *std::getenv("QRX_DIALOG_LOG"))
                LogLine("Window\t" + form1.windowTitle().toStdString());
            application->exec();
        }
        SetDialogParent(nullptr);
    }
    return status;
}
