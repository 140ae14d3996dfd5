// Support for the GUI tests (see GuiTestSupport.h).
#include "GuiTestSupport.h"

#include <QCursor>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "gui/Application.h"
#include "gui/DebugFormUnit.h"
#include "platform/Registry.h"
#include "testing/TestSupport.h"

namespace {
// One application object per test process, made before the first test and kept to the end;
// it is the GUI program's own, so the general error display is part of what is tested.
class QtEnvironment : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "qrx_gui_tests";
        static char* argv[] = {name, nullptr};
        application = new TApplication(argc, argv);
        SetApplicationTitle("Quorix");
        // The program's message output, as its composition root installs it.
        SetMessageBoxOutput(ShowMessageOutputBox);
    }
    void TearDown() override {
        delete application;
        application = nullptr;
    }

private:
    TApplication* application = nullptr;
};

[[maybe_unused]] testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

// Every test starts as a fresh program would: the test main empties the private home (no
// registry file, no log-on entry), the debug window's counter and toggle are at their start
// values, and the pointer rests outside where the windows open, whatever the test before it
// left, so the tests pass in any order, repeated and in one process. A window that opened under
// a pointer left over a page tab would start with that tab hot.
class FreshStart : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        DebugTickCount = 0;
        DebugToggle = false;
        QCursor::setPos(0, 0);
    }
};

[[maybe_unused]] const bool freshStartInstalled = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshStart);
    return true;
}();
} // namespace

std::ostream& operator<<(std::ostream& os, const RecordedBox& box) {
    return os << "{" << box.caption << ", " << BoxIconName(box.icon) << ", \"" << box.text << "\"}";
}

DialogRecorder::DialogRecorder() {
    oldBox = SetMessageBoxFunction(
        [this](const std::string& caption, const std::string& text, BoxIcon icon) {
            boxes.push_back({caption, text, icon});
        });
    oldConfirm = SetConfirmFunction([this](const std::string& caption, const std::string& text) {
        confirmCaptions.push_back(caption);
        confirmations.push_back(text);
        if (answers.empty())
            return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    });
    oldBeep = SetBeepFunction([this] { ++beeps; });
}

DialogRecorder::~DialogRecorder() {
    SetMessageBoxFunction(oldBox);
    SetConfirmFunction(oldConfirm);
    SetBeepFunction(oldBeep);
}

std::vector<std::string> DialogRecorder::ErrorMessages() const {
    std::vector<std::string> messages;
    const std::string heading = "Quorix:\r\n";
    for (const RecordedBox& box : boxes)
        if (box.caption == "Error" && box.text.compare(0, heading.size(), heading) == 0)
            messages.push_back(box.text.substr(heading.size()));
    return messages;
}

void DialogRecorder::Clear() {
    boxes.clear();
    confirmations.clear();
    confirmCaptions.clear();
    answers.clear();
    beeps = 0;
}

void ResetSimulator(const std::string& preset) {
    const ProcessResult result = RunProgram("qrxsim", {"reset", preset});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
}

std::vector<std::string> SimulatorLog() {
    const ProcessResult result = RunProgram("qrxsim", {"log"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::vector<std::string> lines;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void ClearSimulatorLog() {
    const ProcessResult result = RunProgram("qrxsim", {"log", "clear"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
}

std::string SimulatorGet(const std::string& reg) {
    const ProcessResult result = RunProgram("qrxsim", {"get", reg});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::string value = result.out;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

void WriteRegistryFile(const std::string& body) {
    const std::string path = RegistryFilePath();
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string command = "mkdir -p '" + folder + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    WriteFile(path, "REGEDIT4\n\n" + body);
}

std::vector<std::vector<std::string>> ReadTable(const std::string& name) {
    std::ifstream in(std::string(QRX_GUI_TEST_DATA) + "/" + name);
    EXPECT_TRUE(in.good()) << name;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream fieldsIn(line);
        for (std::string field; std::getline(fieldsIn, field, '\t');)
            fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}
