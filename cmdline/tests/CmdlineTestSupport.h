// Shared helpers of the command-line tests: the simulated processor and the parameter list.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "engine/Tweak.h"
#include "testing/RecordedMessages.h"
#include "testing/TestSupport.h"

// The log lines that change the machine: register writes, cache switches and port outputs.
inline std::vector<std::string> SimWrites() {
    std::vector<std::string> writes;
    for (const std::string& line : SimLog())
        if (line.rfind("WriteMsr", 0) == 0 || line.rfind("SetL", 0) == 0 ||
            line.rfind("Out", 0) == 0)
            writes.push_back(line);
    return writes;
}

inline std::string Joined(const std::vector<std::string>& parameters) {
    std::string text;
    for (const std::string& p : parameters)
        text += (text.empty() ? "" : " ") + ("[" + p + "]");
    return text;
}

// An enabled range as the parameters "/MTRRn start size type" describe it.
inline MTRRTp Range(uint32_t start, SizeTp size, MemoryTypeTp type) {
    MTRRTp r;
    r.Enabled = true;
    r.Start = start;
    r.Size = size;
    r.SizeBytes = SizeToBytes(size);
    r.MemoryType = type;
    return r;
}

// Each test starts on a freshly reset simulated processor with the driver open, an empty
// message record and DebugMode cleared.
class OnProcessor : public testing::Test {
protected:
    void Reset(const std::string& preset) {
        Sim({"reset", preset});
        ClearRecordedMessages();
    }
    void SetUp() override {
        Sim({"reset", "k6-3+"});
        ASSERT_TRUE(LoadDriver());
        ClearRecordedMessages();
        DebugMode = false;
    }
    void TearDown() override { UnloadDriver(); }
};
