// Tests of the debug window on the simulated processor: starting needs both debug profiles, the
// ticks apply them alternately, and the tick count and toggle belong to the program, not to a
// window.
#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "engine/Tweak.h"
#include "gui/DebugFormUnit.h"
#include "gui/Dialogs.h"
#include "gui/GuiFont.h"
#include "gui/Unit1.h"
#include "gui/tests/GuiTestSupport.h"
#include "profiles/SaveLoad.h"
#include "testing/TestSupport.h"

namespace {
// WHCR as each debug profile writes it on the K6-III+ (limit in bits 31..22, 4 MB units).
const char* const Debug0Write = "WriteMsr C0000082 00000000 06400000"; // 100 MB
const char* const Debug1Write = "WriteMsr C0000082 00000000 0C800000"; // 200 MB

SettingsTp Identified() {
    SettingsTp settings;
    IdentifyCPU(settings);
    return settings;
}

void StoreLimitProfile(const char* name, int32_t limit) {
    SettingsTp settings = Identified();
    settings.WA.WAEnabled = true;
    settings.WA.WALimit = limit;
    ASSERT_TRUE(SaveProfile(name, settings));
}

std::vector<std::string> LimitWrites() {
    std::vector<std::string> writes;
    for (const std::string& line : SimulatorLog())
        if (line.rfind("WriteMsr C0000082 ", 0) == 0)
            writes.push_back(line);
    return writes;
}

std::string Caption(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text().toStdString();
    return static_cast<const QPushButton*>(w)->text().toStdString();
}

class DebugWindow : public testing::Test {
protected:
    void SetUp() override {
        ResetSimulator("k6-3+");
        ASSERT_TRUE(LoadDriver());
        DebugMode = true;
        form = std::make_unique<TForm1>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    void TearDown() override {
        form.reset();
        DebugMode = false;
    }

    void StoreBothProfiles() {
        StoreLimitProfile("Debug0", 100);
        StoreLimitProfile("Debug1", 200);
    }

    // Opens one more debug window the way the user does.
    TDebugForm* OpenDebugWindow() {
        const QList<TDebugForm*> before = form->findChildren<TDebugForm*>();
        EXPECT_TRUE(form->DebugButton->isVisible());
        QTest::mouseClick(form->DebugButton, Qt::LeftButton);
        for (TDebugForm* w : form->findChildren<TDebugForm*>())
            if (!before.contains(w)) {
                EXPECT_TRUE(w->isVisible());
                return w;
            }
        ADD_FAILURE() << "DebugButton opened no window";
        return nullptr;
    }

    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    static void DestroyClosedWindows() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    DialogRecorder dialogs;
    std::unique_ptr<TForm1> form;
};

struct StartCase {
    const char* name;
    const char* registry; // the profiles stored before Start (REGEDIT4 body)
    std::vector<std::string> errors;
    bool runs;
};

std::ostream& operator<<(std::ostream& os, const StartCase& c) {
    return os << c.name;
}

class DebugStart : public DebugWindow, public testing::WithParamInterface<StartCase> {};

TEST_P(DebugStart, StartNeedsBothProfilesAndGoesOnAfterOneThatDoesNotLoad) {
    const StartCase& c = GetParam();
    WriteRegistryFile(c.registry);
    TDebugForm* w = OpenDebugWindow();
    ASSERT_NE(w, nullptr);
    ClearSimulatorLog();
    dialogs.Clear();
    Click(w->StartStopButton);

    EXPECT_EQ(dialogs.ErrorMessages(), c.errors);
    EXPECT_EQ(w->DebugTimer->isActive(), c.runs);
    EXPECT_EQ(Caption(w->StartStopButton), c.runs ? "&Stop" : "&Start");
    EXPECT_TRUE(LimitWrites().empty()) << "Start itself writes nothing";
    if (!c.runs) {
        EXPECT_TRUE(SimulatorLog().empty()) << "nothing was even read";
    }
}

const char* const OnlyDebug0 = "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Debug0]\n"
                               "\"L1CacheEnabled\"=dword:00000001\n";
const char* const Both = "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Debug0]\n"
                         "\"L1CacheEnabled\"=dword:00000001\n\n"
                         "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Debug1]\n"
                         "\"L1CacheEnabled\"=dword:00000000\n";
// Range 0 enabled without its size: the profile exists but does not load.
const char* const BrokenDebug1 = "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Debug0]\n"
                                 "\"L1CacheEnabled\"=dword:00000001\n\n"
                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Debug1]\n"
                                 "\"MTRR0Enabled\"=dword:00000001\n";

INSTANTIATE_TEST_SUITE_P(
    Profiles, DebugStart,
    testing::Values(StartCase{"NoProfile", "", {"Profile Debug0 does not exist"}, false},
                    StartCase{"OnlyDebug0", OnlyDebug0, {"Profile Debug1 does not exist"}, false},
                    StartCase{"OnlyDebug1",
                              "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Debug1]\n",
                              {"Profile Debug0 does not exist"},
                              false},
                    StartCase{"Both", Both, {}, true},
                    StartCase{"Debug1DoesNotLoad",
                              BrokenDebug1,
                              {"An error occurred while loading profile from registry."},
                              true}),
    [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST_F(DebugWindow, ProfileThatDoesNotLoadLeavesTheProcessorsSettingsInItsRecord) {
    WriteRegistryFile(BrokenDebug1);
    ASSERT_EQ(RunProgram("qrxsim", {"set", "C0000082", "0000000003000000"}).exitStatus, 0);
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    const SettingsTp processor = Identified();
    EXPECT_EQ(DebugProfile1, processor);
    EXPECT_EQ(DebugProfile1.WA.WALimit, 48);
    SettingsTp expected0 = processor;
    expected0.L1CacheEnabled = true;
    EXPECT_EQ(DebugProfile0, expected0);
}

TEST_F(DebugWindow, MissingProfileDoesNotStopARunningTimer) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    ASSERT_TRUE(w->DebugTimer->isActive());
    ASSERT_TRUE(DeleteProfile("Debug1"));
    dialogs.Clear();
    Click(w->StartStopButton);
    EXPECT_EQ(dialogs.ErrorMessages(), std::vector<std::string>{"Profile Debug1 does not exist"});
    EXPECT_TRUE(w->DebugTimer->isActive());
    EXPECT_EQ(Caption(w->StartStopButton), "&Stop");
}

TEST_F(DebugWindow, TicksApplyTheProfilesAlternatelyOddTicksDebug0) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    ClearSimulatorLog();
    for (int tick = 1; tick <= 4; ++tick) {
        w->DebugTimerTimer(w->DebugTimer);
        EXPECT_EQ(Caption(w->Countstring), "Count: " + std::to_string(tick));
        const int32_t limit = tick % 2 == 1 ? 100 : 200;
        EXPECT_EQ(form->CurrentSettings.WA.WALimit, limit) << "read back into the main window";
        EXPECT_EQ(form->WAEdit->text().toStdString(), std::to_string(limit)) << "and shown";
    }
    EXPECT_EQ(LimitWrites(),
              (std::vector<std::string>{Debug0Write, Debug1Write, Debug0Write, Debug1Write}));
    EXPECT_TRUE(dialogs.boxes.empty());
}

// A tick writes what its profile gives and leaves what nothing could read.
TEST_F(DebugWindow, ATickWritesOnlyWhatItsProfileGivesWhenReadsFail) {
    WriteRegistryFile(Both); // each profile gives the L1 switch only
    Sim({"fail", "1"});
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    ClearSimulatorLog();
    w->DebugTimerTimer(w->DebugTimer);
    w->DebugTimerTimer(w->DebugTimer);
    EXPECT_EQ(MachineWrites(SimLog()), (std::vector<std::string>{"SetL1Cache 1", "SetL1Cache 0"}));
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(DebugWindow, CountGoesOnAcrossStopAndStartAndInANewWindow) {
    StoreBothProfiles();
    TDebugForm* first = OpenDebugWindow();
    Click(first->StartStopButton);
    first->DebugTimerTimer(first->DebugTimer);
    first->DebugTimerTimer(first->DebugTimer);
    Click(first->StartStopButton);
    EXPECT_FALSE(first->DebugTimer->isActive());
    Click(first->StartStopButton);
    first->DebugTimerTimer(first->DebugTimer);
    EXPECT_EQ(Caption(first->Countstring), "Count: 3");

    QPointer<TDebugForm> closed = first;
    first->close();
    DestroyClosedWindows();
    EXPECT_TRUE(closed.isNull());

    ClearSimulatorLog();
    TDebugForm* second = OpenDebugWindow();
    EXPECT_EQ(Caption(second->Countstring), "Count: 0");
    Click(second->StartStopButton);
    second->DebugTimerTimer(second->DebugTimer);
    EXPECT_EQ(Caption(second->Countstring), "Count: 4");
    EXPECT_EQ(LimitWrites(), std::vector<std::string>{Debug1Write}) << "tick 4 is an even tick";
}

TEST_F(DebugWindow, SeveralWindowsShareOneCounterAndToggle) {
    StoreBothProfiles();
    TDebugForm* a = OpenDebugWindow();
    TDebugForm* b = OpenDebugWindow();
    Click(a->StartStopButton);
    Click(b->StartStopButton);
    ClearSimulatorLog();
    a->DebugTimerTimer(a->DebugTimer);
    b->DebugTimerTimer(b->DebugTimer);
    a->DebugTimerTimer(a->DebugTimer);
    EXPECT_EQ(Caption(a->Countstring), "Count: 3");
    EXPECT_EQ(Caption(b->Countstring), "Count: 2");
    EXPECT_EQ(DebugTickCount, 3);
    EXPECT_EQ(LimitWrites(), (std::vector<std::string>{Debug0Write, Debug1Write, Debug0Write}));
}

TEST_F(DebugWindow, AfterStopTheProcessorKeepsTheLastAppliedProfile) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    for (int tick = 0; tick < 3; ++tick)
        w->DebugTimerTimer(w->DebugTimer);
    ClearSimulatorLog();
    Click(w->StartStopButton);
    EXPECT_FALSE(w->DebugTimer->isActive());
    EXPECT_EQ(Caption(w->StartStopButton), "&Start");
    EXPECT_TRUE(LimitWrites().empty());
    EXPECT_EQ(SimulatorGet("C0000082"), "0000000006400000") << "Debug0, applied by tick 3";
}

TEST_F(DebugWindow, RunningTimerTicksOnItsOwn) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    w->TimerSpin->setValue(1);
    Click(w->StartStopButton);
    ASSERT_EQ(w->DebugTimer->interval(), 1);
    EXPECT_TRUE(QTest::qWaitFor([] { return DebugTickCount >= 3; }, 10000));
    Click(w->StartStopButton);
    const int32_t stopped = DebugTickCount;
    QCoreApplication::processEvents();
    EXPECT_EQ(DebugTickCount, stopped);
    EXPECT_EQ(Caption(w->Countstring), "Count: " + std::to_string(stopped));
}

TEST_F(DebugWindow, TimerSpinTakesEffectOnlyOnStartStopOrApply) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    EXPECT_EQ(w->DebugTimer->interval(), 1000);
    w->TimerSpin->setValue(250);
    EXPECT_EQ(w->DebugTimer->interval(), 1000);
    Click(w->Apply);
    EXPECT_EQ(w->DebugTimer->interval(), 250);
    EXPECT_FALSE(w->DebugTimer->isActive()) << "Apply neither starts nor stops";

    w->TimerSpin->setValue(300);
    Click(w->StartStopButton);
    EXPECT_EQ(w->DebugTimer->interval(), 300);
    w->TimerSpin->setValue(400);
    Click(w->Apply);
    EXPECT_TRUE(w->DebugTimer->isActive());
    EXPECT_EQ(w->DebugTimer->interval(), 400);

    // A text that is no whole number counts as the minimum, 1 ms.
    auto* text = w->TimerSpin->findChild<QLineEdit*>();
    ASSERT_NE(text, nullptr);
    w->TimerSpin->setFocus(Qt::MouseFocusReason);
    text->clear();
    Click(w->StartStopButton);
    EXPECT_EQ(w->DebugTimer->interval(), 1);
    EXPECT_FALSE(w->DebugTimer->isActive());
}

TEST_F(DebugWindow, ClosingAWindowStopsItsTimerAndTheNextClickOpensANewOne) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    QTimer* timer = w->DebugTimer;
    QPointer<TDebugForm> window = w;
    w->close();
    EXPECT_FALSE(timer->isActive());
    DestroyClosedWindows();
    EXPECT_TRUE(window.isNull());
    TDebugForm* next = OpenDebugWindow();
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(next->DebugTimer->isActive());
    EXPECT_EQ(Caption(next->StartStopButton), "&Start");
}

// An error box during a tick runs a message loop in which the user may close the window; the
// tick still finishes, and the window goes only after it.
TEST_F(DebugWindow, WindowClosedWhileATicksErrorBoxIsOpenGoesAfterTheTick) {
    SettingsTp misaligned = Identified();
    misaligned.WC.MTRR0 = {true, 0x100000, 0x200000, SizeTp::_2MB, MemoryTypeTp::Uncached};
    ASSERT_TRUE(SaveProfile("Debug0", misaligned));
    StoreLimitProfile("Debug1", 200);
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    QPointer<TDebugForm> window = w;
    MessageBoxFunction record = SetMessageBoxFunction(nullptr);
    SetMessageBoxFunction([&](const std::string& caption, const std::string& text, BoxIcon icon) {
        record(caption, text, icon);
        if (window)
            window->close();
        DestroyClosedWindows();
        EXPECT_FALSE(window.isNull()) << "destroyed while its tick still runs";
    });
    w->DebugTimerTimer(w->DebugTimer);
    SetMessageBoxFunction(record);

    EXPECT_EQ(dialogs.ErrorMessages(),
              std::vector<std::string>{"The base address of MTRR0 must be range-size aligned."});
    EXPECT_EQ(form->CurrentSettings, Identified()) << "the tick read the processor back";
    DestroyClosedWindows();
    EXPECT_TRUE(window.isNull());
}

// A tick's error box runs its own loop: the timer goes on ticking meanwhile, the ticks that
// arrive then open no boxes of their own, and Stop in the debug window stays in reach.
TEST_F(DebugWindow, WhileATicksErrorBoxIsOpenTheTimerTicksOnAndStopIsReachable) {
    SettingsTp misaligned = Identified();
    misaligned.WC.MTRR0 = {true, 0x100000, 0x200000, SizeTp::_2MB, MemoryTypeTp::Uncached};
    ASSERT_TRUE(SaveProfile("Debug0", misaligned) && SaveProfile("Debug1", misaligned));
    TDebugForm* w = OpenDebugWindow();
    w->TimerSpin->setValue(20);
    MessageBoxFunction record = SetMessageBoxFunction(nullptr); // the real boxes
    SetDialogParent(form.get());
    bool ticked = false, stopped = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        watcher.stop();
        const int32_t opened = DebugTickCount;
        ticked = QTest::qWaitFor([&] { return DebugTickCount >= opened + 3; }, 5000);
        // Through the window system, as a user's click comes, which a modal box may block.
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {},
                          w->StartStopButton->mapTo(w, w->StartStopButton->rect().center()));
        stopped = !w->DebugTimer->isActive();
        box->accept();
    });
    watcher.start(10);
    Click(w->StartStopButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !watcher.isActive(); }, 10000));
    if (w->DebugTimer->isActive())
        Click(w->StartStopButton);
    SetDialogParent(nullptr);
    SetMessageBoxFunction(record);
    EXPECT_TRUE(ticked && stopped) << ticked << stopped;
}

// The window's captions fit their controls. With QRX_SCREENSHOT_DIR set, the test also leaves a
// picture of a running debug window beside the main window there.
TEST_F(DebugWindow, ShownBesideTheMainWindowWithEveryCaptionVisible) {
    StoreBothProfiles();
    TDebugForm* w = OpenDebugWindow();
    Click(w->StartStopButton);
    for (int tick = 0; tick < 3; ++tick)
        w->DebugTimerTimer(w->DebugTimer);
    EXPECT_TRUE(ClippedControls(w).isEmpty()) << ClippedControls(w).join(", ").toStdString();
    EXPECT_EQ(w->windowTitle().toStdString(), "DebugForm");
    EXPECT_EQ(w->size(), QSize(468, 540));

    const char* folder = std::getenv("QRX_SCREENSHOT_DIR");
    if (!folder || !*folder)
        return;
    const int titleHeight = 24, gap = 16;
    const QImage mainPicture = form->grab().toImage();
    const QImage debugPicture = w->grab().toImage();
    QImage picture(mainPicture.width() + gap + debugPicture.width(),
                   titleHeight + std::max(mainPicture.height(), debugPicture.height()),
                   QImage::Format_RGB32);
    picture.fill(QColor(0x5a, 0x6e, 0x7f));
    QPainter painter(&picture);
    QFont titleFont = FormFont();
    titleFont.setBold(true);
    painter.setFont(titleFont);
    const auto place = [&](const QImage& image, int x, const QString& title) {
        painter.fillRect(x, 0, image.width(), titleHeight, QColor(0x1f, 0x3a, 0x5f));
        painter.setPen(Qt::white);
        painter.drawText(QRect(x + 8, 0, image.width() - 16, titleHeight), Qt::AlignVCenter, title);
        painter.drawImage(x, titleHeight, image);
    };
    place(mainPicture, 0, form->windowTitle());
    place(debugPicture, mainPicture.width() + gap, w->windowTitle());
    painter.end();
    ASSERT_TRUE(picture.save(QString::fromLocal8Bit(folder) + "/debug-window.png", "PNG"));
}
} // namespace
