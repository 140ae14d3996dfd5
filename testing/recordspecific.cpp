// recordspecific: the tests' message implementation (see RecordedMessages.h).
#include "common/Messages.h"
#include "testing/RecordedMessages.h"

#include <utility>

namespace {
std::vector<RecordedMessage>& Store() {
    static std::vector<RecordedMessage> messages;
    return messages;
}

std::function<void(const RecordedMessage&)>& Observer() {
    static std::function<void(const RecordedMessage&)> observer;
    return observer;
}

void Record(RecordedMessage::Kind kind, const std::string& message) {
    const RecordedMessage shown{kind, message};
    Store().push_back(shown);
    if (Observer())
        Observer()(shown); // a copy: the observer may show messages of its own
}
} // namespace

void ShowError(const std::string& message) {
    Record(RecordedMessage::Error, message);
}

void ShowInfo(const std::string& message) {
    Record(RecordedMessage::Info, message);
}

void SetMessageObserver(std::function<void(const RecordedMessage&)> observer) {
    Observer() = std::move(observer);
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
