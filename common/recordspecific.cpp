// recordspecific: the tests' message implementation (see RecordedMessages.h).
#include "Messages.h"
#include "RecordedMessages.h"

namespace {
std::vector<RecordedMessage>& Store() {
    static std::vector<RecordedMessage> messages;
    return messages;
}
}  // namespace

void ShowError(const std::string& message) {
    Store().push_back({RecordedMessage::Error, message});
}

void ShowInfo(const std::string& message) {
    Store().push_back({RecordedMessage::Info, message});
}

const std::vector<RecordedMessage>& RecordedMessages() {
    return Store();
}

std::vector<std::string> RecordedErrors() {
    std::vector<std::string> errors;
    for (const RecordedMessage& m : Store())
        if (m.kind == RecordedMessage::Error)
            errors.push_back(m.text);
    return errors;
}

int ErrorCount() {
    return static_cast<int>(RecordedErrors().size());
}

void ClearRecordedMessages() {
    Store().clear();
}
