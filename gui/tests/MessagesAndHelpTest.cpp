// The GUI program's message boxes, its general error display, and the context help.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWhatsThis>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

#include "GuiTestSupport.h"
#include "common/Messages.h"
#include "driver/wintweak.h"
#include "gui/Application.h"
#include "gui/ContextHelp.h"
#include "gui/SpinButton.h"
#include "gui/Unit1.h"
#include "testing/TestSupport.h"

namespace {
TEST(GuiMessages, ErrorAndInformationBoxesCarryTheStandardCaptionsAndTheProgramName) {
    DialogRecorder dialogs;
    const int errorsBefore = ErrorCount();
    ShowError("WALimit > 508 MB.");
    ShowInfo("Saved.");
    ShowError("");
    ShowError("two\r\nlines");
    EXPECT_EQ(dialogs.boxes,
              (std::vector<RecordedBox>{{"Error", "Quorix:\r\nWALimit > 508 MB.", BoxIcon::Error},
                                        {"Information", "Quorix:\r\nSaved.", BoxIcon::Information},
                                        {"Error", "Quorix:\r\n", BoxIcon::Error},
                                        {"Error", "Quorix:\r\ntwo\r\nlines", BoxIcon::Error}}));
    EXPECT_EQ(ErrorCount(), errorsBefore + 3) << "information boxes are not errors";
}

TEST(GeneralErrorDisplay, AddsAFullStopOnlyAfterCharactersThatSortAfterIt) {
    struct Case {
        std::string message, shown;
    };
    for (const Case& c :
         {Case{"Failed to set data for 'X'", "Failed to set data for 'X'"},
          Case{"Failed to get data for 'WAEnabled'x", "Failed to get data for 'WAEnabled'x."},
          Case{"Done.", "Done."}, Case{"Why?", "Why?."}, Case{"Wow!", "Wow!"},
          Case{"(paren)", "(paren)"}, Case{"value 7", "value 7."}, Case{"path/", "path/."},
          Case{"", ""}, Case{"a-", "a-"}, Case{"caf\xC3\xA9", "caf\xC3\xA9."}})
        EXPECT_EQ(WithFullStop(c.message), c.shown) << c.message;
}

// An object whose event handler fails, as a handler that meets a registry error does.
class FailingObject : public QObject {
public:
    int events = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++events;
            throw std::runtime_error("Invalid data type for 'WAEnabled'");
        }
        return QObject::event(e);
    }
};

TEST(GeneralErrorDisplay, AnErrorEscapingAHandlerIsShownAndTheLoopGoesOn) {
    DialogRecorder dialogs;
    FailingObject object;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&object, &first);
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(object.events, 2);
    // A quote sorts before the full stop, so none is added.
    const RecordedBox expected{"Quorix", "Invalid data type for 'WAEnabled'", BoxIcon::Error};
    EXPECT_EQ(dialogs.boxes, (std::vector<RecordedBox>{expected, expected}));
}

TEST(GeneralErrorDisplay, ApplicationErrorTextNamesTheErrorAndGivesItsMessage) {
    const std::string text = ApplicationErrorText(std::runtime_error("Failed to get data"));
    EXPECT_NE(text.find("runtime_error"), std::string::npos) << text;
    EXPECT_NE(text.find("Failed to get data."), std::string::npos) << text;
}

// ---------------------------------------------------------------------------------------------
// Help

TEST(HelpFile, ParsesTopicsByNumberAndTrimsTheirBlankLines) {
    const std::map<int, HelpTopic> topics = ParseHelpText("Preface text\n"
                                                          "[1000] First\r\n"
                                                          "\r\n"
                                                          "Line one\r\n"
                                                          "\r\n"
                                                          "Line two\r\n"
                                                          "\n"
                                                          "[1001]   Second topic\n"
                                                          "Only line\n"
                                                          "[x] not a heading\n"
                                                          "[1002]\n");
    ASSERT_EQ(topics.size(), 3u);
    EXPECT_EQ(topics.at(1000), (HelpTopic{"First", "Line one\n\nLine two"}));
    EXPECT_EQ(topics.at(1001), (HelpTopic{"Second topic", "Only line\n[x] not a heading"}));
    EXPECT_EQ(topics.at(1002), (HelpTopic{"", ""}));
}

TEST(HelpFile, TheShippedFileHasAHelpfulTopicForEveryNumber) {
    const std::string path = OutputDir() + "qrx.hlp";
    const std::map<int, HelpTopic> topics = ParseHelpText(ReadFile(path));
    for (int context = 1000; context <= 1030; ++context) {
        ASSERT_EQ(topics.count(context), 1u) << context;
        const HelpTopic& topic = topics.at(context);
        EXPECT_FALSE(topic.Title.empty()) << context;
        // A topic explains what, when and what can go wrong: more than a caption's worth.
        EXPECT_GE(topic.Text.size(), 150u) << context;
    }
    EXPECT_EQ(topics.size(), 31u);
}

TEST(HelpFile, LiesBesideTheProgram) {
    EXPECT_EQ(DefaultHelpFile(), OutputDir() + "qrx.hlp");
}

class ContextHelpTest : public testing::Test {
protected:
    DialogRecorder dialogs;
    void SetUp() override {
        ResetSimulator("k6-3+");
        ASSERT_TRUE(LoadDriver());
        SetHelpFile(OutputDir() + "qrx.hlp");
    }
    void TearDown() override { UnloadDriver(); }

    static QWidget* VisiblePopup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && QString(w->metaObject()->className()) == "QWhatsThat")
                return w;
        return nullptr;
    }
};

TEST_F(ContextHelpTest, NearestEnclosingControlWithANumberGivesTheTopic) {
    TForm1 form;
    EXPECT_EQ(HelpContextOf(form.WASpinButton->UpButton()), 1001);
    EXPECT_EQ(HelpContextOf(form.WC0SizeCombo), 1009);
    EXPECT_EQ(HelpContextOf(form.CPUFamilyString), 0);
    EXPECT_EQ(HelpContextOf(form.DebugButton), 0);
    // Every numbered control has a topic of its own.
    std::set<int> numbers;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        const int context = w->property(HelpContextProperty).toInt();
        if (context == 0)
            continue;
        numbers.insert(context);
        const std::string text = HelpPopupText(context);
        EXPECT_EQ(text.find("has no topic"), std::string::npos) << context;
        EXPECT_FALSE(w->whatsThis().isEmpty()) << w->objectName().toStdString();
    }
    EXPECT_EQ(numbers.size(), 28u);
}

TEST_F(ContextHelpTest, F1ShowsThePopupOfTheFocusedControl) {
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.activateWindow();
    form.L1CacheEnableCheck->setFocus();
    QTest::keyClick(form.L1CacheEnableCheck, Qt::Key_F1);
    QWidget* popup = VisiblePopup();
    ASSERT_NE(popup, nullptr);
    QWhatsThis::hideText();
    EXPECT_NE(HelpPopupText(1003).find("L1 cache"), std::string::npos);
}

TEST_F(ContextHelpTest, WhatsThisModeAsksTheClickedControlAndItsEnclosingControls) {
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // A What's This question to the spin button's arrow passes on to the spin button itself.
    QHelpEvent event(QEvent::WhatsThis, QPoint(1, 1), QPoint(1, 1));
    QApplication::sendEvent(form.WASpinButton->UpButton(), &event);
    QWidget* popup = VisiblePopup();
    ASSERT_NE(popup, nullptr);
    QWhatsThis::hideText();
}

TEST_F(ContextHelpTest, AMissingHelpFileIsReportedInThePopup) {
    SetHelpFile(TestDir() + "/nowhere/qrx.hlp");
    const std::string text = HelpPopupText(1000);
    EXPECT_NE(text.find(TestDir() + "/nowhere/qrx.hlp"), std::string::npos) << text;
    SetHelpFile(OutputDir() + "qrx.hlp");
    EXPECT_EQ(HelpPopupText(1000).find("could not be read"), std::string::npos);
}
} // namespace
