// The command-line tests run the GUI program's command line: the profile switches are installed
// for the whole test program. "/L" with a real store behind it is the profile store's to test
// (profiles/tests), so the store installed here is one that no test here may reach.
#include "CmdlineTestSupport.h"

namespace {

bool UnreachableProfileExists(const std::string& name) {
    ADD_FAILURE() << "the command-line tests reached the profile store for \"" << name << "\"";
    return false;
}

bool UnreachableLoadProfile(const std::string& name, SettingsTp&) {
    ADD_FAILURE() << "the command-line tests reached the profile store for \"" << name << "\"";
    return false;
}

class ProfileSwitches : public testing::Environment {
public:
    void SetUp() override {
        InstallProfileSwitches(UnreachableProfileExists, UnreachableLoadProfile);
    }
    void TearDown() override { InstallProfileSwitches(nullptr, nullptr); }
};

[[maybe_unused]] testing::Environment* const profileSwitches =
    testing::AddGlobalTestEnvironment(new ProfileSwitches);

} // namespace
