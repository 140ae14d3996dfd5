// StateStore: where the simulated machine lives on disk, and the locked read-modify-write every
// request goes through, so that all processes see one machine. The file's text is StateText's.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

#include "simulator/Machine.h"

// The state file: explicit (qrxsim --state), else $QRX_SIM_STATE, else
// $XDG_STATE_HOME/quorix/simulated-cpu with XDG_STATE_HOME defaulting to ~/.local/state.
std::string SimStatePath(const std::string& explicitPath = std::string());

// Beside the state file: the request log (append-only) and the lock file. A store whose state
// file is a symbolic link keeps them beside the link's target.
std::string SimLogPath(const std::string& statePath);
std::string SimLockPath(const std::string& statePath);

// A problem with the state file (unreadable, damaged, not writable): the message names the file
// and says what to do.
class SimStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The log keeps at least this many of its newest lines.
constexpr size_t SimLogKeepLines = 10000;

// One machine on disk, shared with every other process that uses the same file.
class SimStore {
public:
    explicit SimStore(std::string statePath);
    ~SimStore();
    SimStore(const SimStore&) = delete;
    SimStore& operator=(const SimStore&) = delete;

    const std::string& Path() const { return path_; }

    // Runs change on the current machine under the exclusive lock. A missing state file is
    // created as the default preset first. When change returns true the machine is written back
    // atomically; the lines it adds to log are appended to the request log. All or nothing: when
    // the lines cannot be logged the machine is not written, and when the machine cannot be
    // written the lines are taken back. Throws SimStateError when the file is damaged or cannot
    // be read or written, or the log cannot be written.
    using Change = std::function<bool(SimMachine&, std::vector<std::string>& log)>;
    void Transact(const Change& change);

    // Replaces whatever is on disk (damaged or not) with m and empties the log.
    void Replace(const SimMachine& m);

    // Throws SimStateError when the request log cannot be opened for writing, as no request
    // could then succeed.
    void CheckLog();

    // The request log, oldest first (only its newest lines when it has grown far past what it
    // keeps), and emptying it.
    std::vector<std::string> ReadLog();
    void ClearLog();

private:
    class Lock;
    class LogAppend;
    void LoadIfChanged();
    // Stores m; a pendingLog of 0 or more marks the log's lines from that size on as not yet
    // stored (see PendingLogMark in StateStore.cpp).
    void Write(const SimMachine& m, int64_t pendingLog = -1);
    // Takes back the lines of a change that a killed program never stored.
    void RecoverLog();
    // Stores the machine without the mark after a request that failed, if it can.
    void DropPendingMark() noexcept;
    // Appends lines to the log through append; beforeWrite gets the log's size before them.
    void AppendLog(const std::vector<std::string>& lines,
                   const std::function<void(off_t)>& beforeWrite, LogAppend& append);

    std::string path_;
    std::string logPath_;
    std::string lockPath_;
    int lockFd_ = -1;
    int64_t pendingLog_ = -1; // the mark in text_, or -1
    SimMachine machine_;
    // The file's text when machine_ was last read or written. A request compares the whole
    // text, never the file's inode, size and time stamp: a rename can reuse an inode freed a
    // moment before, and time stamps advance only every few milliseconds, so another process's
    // change could look like no change at all.
    std::string text_;
    bool loaded_ = false;
};
