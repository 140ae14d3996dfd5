// Engine test support: qrxsim helpers and the fixture that resets the simulated machine.
#include "EngineTestSupport.h"

#include <sstream>

#include "common/General.h"
#include "driver/wintweak.h"
#include "testing/RecordedMessages.h"
#include "testing/TestSupport.h"

void SimSetMsr(uint32_t index, uint32_t high, uint32_t low) {
    Sim({"set", DWordToHex(index), DWordToHex(high) + DWordToHex(low)});
}

uint32_t SimMsrLow(uint32_t index) {
    const std::string value = SimGet(DWordToHex(index));
    EXPECT_EQ(value.size(), 16u) << value;
    int32_t error = 0;
    const uint32_t low = HexToInt(value.size() == 16 ? value.substr(8) : "X", error);
    EXPECT_EQ(error, 0) << value;
    return low;
}

std::vector<std::string> SimRequests() {
    std::vector<std::string> requests;
    for (const std::string& line : SimLog()) {
        std::istringstream words(line);
        std::string op, target;
        words >> op >> target;
        if (op == "ReadMsr" || op == "WriteMsr" || op == "Out" || op == "Cpuid")
            requests.push_back(op + " " + target);
        else
            requests.push_back(op);
    }
    return requests;
}

void SimulatedCpu::Reset(const std::vector<std::string>& resetArgs) {
    std::vector<std::string> args{"reset"};
    args.insert(args.end(), resetArgs.begin(), resetArgs.end());
    Sim(args);
    if (!loaded_) {
        ASSERT_TRUE(LoadDriver()) << "the driver module qrxvxd.vxd did not load";
        loaded_ = true;
    }
    Sim({"log", "clear"});
    ClearRecordedMessages();
}

void SimulatedCpu::TearDown() {
    if (loaded_)
        UnloadDriver();
}
