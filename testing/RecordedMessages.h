// recordspecific: the tests' message implementation. It keeps every message in order so a test
// can assert on the exact texts the shared code produced.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct RecordedMessage {
    enum Kind { Error, Info } kind;
    std::string text;
    bool operator==(const RecordedMessage& other) const {
        return kind == other.kind && text == other.text;
    }
};

// All messages shown since the last ClearRecordedMessages, oldest first.
const std::vector<RecordedMessage>& RecordedMessages();
// Only the texts of the error messages, oldest first.
std::vector<std::string> RecordedErrors();
void ClearRecordedMessages();

// Called with every message at the moment it is shown, after it is recorded; an empty function
// removes it. A real message box runs while the code that shows it waits, so a test can look at
// the world as the user would see it then.
void SetMessageObserver(std::function<void(const RecordedMessage&)> observer);
