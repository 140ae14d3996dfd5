// StateStore: where the simulated machine lives on disk and the locked, atomic update that every
// request goes through, so that all processes see one machine.
#include "simulator/StateStore.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/posixlib/BaseDirectory.h"
#include "platform/posixlib/Files.h"
#include "simulator/SimText.h"
#include "simulator/StateText.h"

namespace {

// A state file takes under a kilobyte; whatever stands in its place is read no further than this.
constexpr uint64_t MaxStateBytes = 64 * 1024;

// The request log. Every line is cut to fewer than MaxLogLineBytes, so the last KeepLogBytes of
// the log hold more than SimLogKeepLines whole lines whatever stands before them; once the log
// passes TrimLogAtBytes it is cut back to them. Only that tail is ever read, so a log damaged
// into one endless line costs a request no more than a healthy log does, and the log stays
// bounded whatever it holds.
constexpr size_t MaxLogLineBytes = 64;
constexpr uint64_t KeepLogBytes = MaxLogLineBytes * (SimLogKeepLines * 3 / 2);
constexpr uint64_t TrimLogAtBytes = MaxLogLineBytes * (SimLogKeepLines * 5 / 2);

std::string ErrnoText() {
    return std::strerror(errno);
}

std::string Quote(const std::string& path) {
    return "\"" + path + "\"";
}

// mkdir -p for the folder that holds the state file.
void MakeFolders(const std::string& folder) {
    std::string failed;
    if (!qrxposix::MakeFolders(folder, 0755, failed))
        throw SimStateError("cannot create the folder " + Quote(failed) +
                            " for the simulated processor's state file: " + ErrnoText() +
                            "; choose another file with --state or QRX_SIM_STATE");
}

// The request log is read from its end, and at most this much of it: a log trimmed to its
// promised lines holds well under this, and a damaged one may hold anything.
constexpr uint64_t MaxLogReadBytes = 4 * 1024 * 1024;
static_assert(MaxLogReadBytes > TrimLogAtBytes, "a trimmed log must be read whole");

// Written beside and renamed over, so a reader (or a crash) only ever finds the old or the new
// content. Not flushed: the machine's state need not outlive the computer, any more than real
// registers do. The store's lock keeps every other writer out. False with a cause naming the
// file.
bool ReplaceFile(const std::string& path, const std::string& data, std::string& cause) {
    return qrxposix::ReplaceFile(path, data, 0644, qrxposix::Durability::Unflushed,
                                 qrxposix::Writers::Locked, cause);
}

// A request that changes the machine is logged in three steps, and a program killed between any
// two leaves the log and the machine in agreement once the next request has looked:
//   1. the unchanged machine is stored with this mark, which gives the log's size before the
//      request's lines (a comment line, so the state file's reader passes over it);
//   2. the lines are appended to the log;
//   3. the changed machine is stored without the mark.
// Whoever finds the mark cuts the log back to that size (the lines of a change that was never
// stored) and stores the machine without it.
const char PendingLogMark[] = "# log-pending ";

std::string WithPendingMark(std::string text, int64_t logSize) {
    if (logSize >= 0)
        text += PendingLogMark + std::to_string(logSize) + "\n";
    return text;
}

// The size that the state text's mark gives, or -1 when it has none.
int64_t PendingMarkOf(const std::string& text) {
    const size_t lineStart = text.rfind('\n', text.size() < 2 ? 0 : text.size() - 2);
    const size_t start = lineStart == std::string::npos ? 0 : lineStart + 1;
    if (text.compare(start, sizeof PendingLogMark - 1, PendingLogMark) != 0)
        return -1;
    uint64_t size = 0;
    std::string digits = text.substr(start + sizeof PendingLogMark - 1);
    if (!digits.empty() && digits.back() == '\n')
        digits.pop_back();
    return ParseDecimal(digits, INT64_MAX, size) ? static_cast<int64_t>(size) : -1;
}

// The state file (or the request log) is there but is no file we can use: a folder, a named
// pipe or a device in its place, or a link to nothing.
SimStateError Unusable(const std::string& what, const std::string& path, const std::string& cause) {
    return SimStateError(what + " " + Quote(path) + " cannot be used: " + cause +
                         "; remove it, or choose another state file with --state or "
                         "QRX_SIM_STATE");
}

const char* const StateFileName = "the simulated processor's state file";
const char* const LogName = "the request log";

SimStateError LogError(const std::string& verb, const std::string& logPath,
                       const std::string& cause) {
    return SimStateError("cannot " + verb + " the request log " + Quote(logPath) + ": " + cause);
}

// Throws what a request log that cannot be used to verb ("read", "write", "empty") calls for.
[[noreturn]] void LogUnusable(qrxposix::FileOutcome outcome, const std::string& logPath,
                              const std::string& verb, const std::string& cause) {
    if (outcome == qrxposix::FileOutcome::Failed)
        throw LogError(verb, logPath, cause);
    throw Unusable(LogName, logPath, cause);
}

// The file that path leads to, or path itself when its links lead nowhere (whoever reads it
// then says so).
std::string ResolvedPath(const std::string& path) {
    std::string target, cause;
    return qrxposix::ResolveLinks(path, target, cause) ? target : path;
}

// Opens the request log with flags; -1 when there is none (and flags create none).
int OpenLog(const std::string& logPath, int flags, const std::string& verb) {
    int fd = -1;
    std::string cause;
    const qrxposix::FileOutcome outcome =
        qrxposix::OpenRegularFile(logPath, flags, 0644, fd, cause);
    if (outcome == qrxposix::FileOutcome::Regular || outcome == qrxposix::FileOutcome::Missing)
        return fd;
    LogUnusable(outcome, logPath, verb, cause);
}

// Reads the whole lines within the last maxBytes of the request log into text; false when
// there is none.
bool ReadLogTail(const std::string& logPath, uint64_t maxBytes, std::string& text) {
    std::string cause;
    // One byte more than is kept tells whether the read began inside a line.
    const qrxposix::FileOutcome read =
        qrxposix::ReadRegularFileTail(logPath, maxBytes + 1, text, cause);
    if (read == qrxposix::FileOutcome::Missing)
        return false;
    if (read != qrxposix::FileOutcome::Regular)
        LogUnusable(read, logPath, "read", cause);
    if (text.size() > maxBytes) {
        const size_t firstLineEnd = text.find('\n');
        text.erase(0, firstLineEnd == std::string::npos ? text.size() : firstLineEnd + 1);
    }
    return true;
}

// Empties the request log: a new or reset machine starts with an empty one.
void EmptyLog(const std::string& logPath) {
    const int fd = OpenLog(logPath, O_WRONLY | O_TRUNC, "empty");
    if (fd >= 0)
        close(fd);
}

} // namespace

// The lines one request appended to the request log, which can be taken back while the store's
// lock is held. Owns the log's descriptor.
class SimStore::LogAppend {
public:
    LogAppend() = default;
    explicit LogAppend(int fd) : fd_(fd) {}
    ~LogAppend() {
        if (fd_ >= 0)
            close(fd_);
    }
    LogAppend(LogAppend&& other) noexcept { Swap(other); }
    LogAppend& operator=(LogAppend&& other) noexcept {
        Swap(other);
        return *this;
    }

    int Fd() const { return fd_; }
    // The log's size before the append.
    void StartsAt(off_t size) { before_ = size; }
    // False when the lines stay (the state's mark then has the next request take them back).
    bool TakeBack() { return fd_ < 0 || before_ < 0 || ftruncate(fd_, before_) == 0; }

private:
    void Swap(LogAppend& other) noexcept {
        std::swap(fd_, other.fd_);
        std::swap(before_, other.before_);
    }

    int fd_ = -1;
    off_t before_ = -1; // nothing written yet
};

std::string SimStatePath(const std::string& explicitPath) {
    if (!explicitPath.empty())
        return explicitPath;
    const char* state = std::getenv("QRX_SIM_STATE");
    if (state && *state)
        return state;
    return qrxposix::XdgStateHome() + "/quorix/simulated-cpu";
}

std::string SimLogPath(const std::string& statePath) {
    return statePath + ".log";
}

std::string SimLockPath(const std::string& statePath) {
    return statePath + ".lock";
}

class SimStore::Lock {
public:
    explicit Lock(SimStore& store) : fd_(store.lockFd_) {
        const std::string lockPath = Quote(store.lockPath_);
        switch (qrxposix::LockExclusive(fd_)) {
        case qrxposix::LockOutcome::Locked:
            break;
        case qrxposix::LockOutcome::Held:
            throw SimStateError(qrxposix::HeldByAnotherProgram(
                std::string(StateFileName) + " " + Quote(store.path_), lockPath));
        case qrxposix::LockOutcome::Failed:
            throw SimStateError("cannot lock " + lockPath + ": " + ErrnoText());
        }
        // A writer killed between writing its temporary file and renaming it left it behind;
        // under the lock it is known to be stale.
        qrxposix::RemoveLeftoverTemporary(store.path_);
    }
    ~Lock() { qrxposix::Unlock(fd_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int fd_;
};

// The lock and the log lie beside the file that the state file's links lead to, so programs
// that reach one machine through different links share them.
SimStore::SimStore(std::string statePath)
    : path_(std::move(statePath)), logPath_(SimLogPath(ResolvedPath(path_))) {
    MakeFolders(qrxposix::DirectoryOf(ResolvedPath(path_)));
    std::string cause;
    if (!qrxposix::OpenLockFile(path_, 0644, lockFd_, lockPath_, cause))
        throw SimStateError(cause + "; choose another state file with --state or QRX_SIM_STATE");
}

SimStore::~SimStore() {
    if (lockFd_ >= 0)
        close(lockFd_);
}

void SimStore::Write(const SimMachine& m, int64_t pendingLog) {
    MakeFolders(qrxposix::DirectoryOf(path_));
    // A reset cannot mend a folder (or any other non-file) in the state file's place, nor a link
    // to nothing: they are the user's to remove.
    std::string cause;
    const qrxposix::FileOutcome there = qrxposix::LookAt(path_, cause);
    if (there == qrxposix::FileOutcome::DanglingLink || there == qrxposix::FileOutcome::NotRegular)
        throw Unusable(StateFileName, path_, cause);
    std::string text = WithPendingMark(FormatState(m), pendingLog);
    if (!ReplaceFile(path_, text, cause))
        throw SimStateError("the simulated processor's state file " + Quote(path_) +
                            " cannot be stored: " + cause);
    machine_ = m;
    text_ = std::move(text);
    pendingLog_ = pendingLog;
    loaded_ = true;
}

void SimStore::RecoverLog() {
    if (pendingLog_ < 0)
        return;
    const int fd = OpenLog(logPath_, O_WRONLY, "take back the unstored lines of");
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > pendingLog_ &&
        ftruncate(fd, pendingLog_) != 0) {
        const std::string why = ErrnoText();
        close(fd);
        throw LogError("take back the unstored lines of", logPath_, why);
    }
    if (fd >= 0)
        close(fd);
    Write(machine_);
}

void SimStore::LoadIfChanged() {
    std::string text, cause;
    const qrxposix::FileOutcome read = qrxposix::ReadRegularFile(path_, MaxStateBytes, text, cause);
    const std::string advice = "; run \"qrxsim reset\" to start again with a fresh " +
                               std::string(DefaultPreset) + " (or delete the file)";
    switch (read) {
    case qrxposix::FileOutcome::Regular:
        break;
    case qrxposix::FileOutcome::Missing:
        // A machine is born with an empty log, like any freshly reset one (RecoverLog empties
        // it).
        Write(ResetMachine(*FindPreset(DefaultPreset)), 0);
        return;
    case qrxposix::FileOutcome::TooLarge:
        throw SimStateError(std::string(StateFileName) + " " + Quote(path_) + " is damaged (" +
                            cause + ", far more than a state file takes)" + advice);
    case qrxposix::FileOutcome::Failed:
        throw SimStateError("cannot read the simulated processor's state file " + Quote(path_) +
                            ": " + cause);
    default:
        throw Unusable(StateFileName, path_, cause);
    }
    if (loaded_ && text == text_)
        return;
    std::string error;
    SimMachine m;
    if (!ParseState(text, m, error) && error.empty())
        error = "unreadable";
    if (!error.empty())
        throw SimStateError(std::string(StateFileName) + " " + Quote(path_) + " is damaged (" +
                            error + ")" + advice);
    machine_ = m;
    pendingLog_ = PendingMarkOf(text);
    text_ = std::move(text);
    loaded_ = true;
}

void SimStore::AppendLog(const std::vector<std::string>& lines,
                         const std::function<void(off_t)>& beforeWrite, LogAppend& append) {
    const std::string& logPath = logPath_;
    append = LogAppend(OpenLog(logPath, O_RDWR | O_APPEND | O_CREAT, "write"));
    struct stat st;
    if (append.Fd() < 0 || fstat(append.Fd(), &st) != 0)
        throw LogError("write", logPath, ErrnoText());
    if (static_cast<uint64_t>(st.st_size) > TrimLogAtBytes) {
        std::string tail;
        ReadLogTail(logPath, KeepLogBytes, tail);
        std::string cause;
        if (!ReplaceFile(logPath, tail, cause))
            throw SimStateError(cause);
        append = LogAppend(OpenLog(logPath, O_RDWR | O_APPEND, "write"));
        if (append.Fd() < 0 || fstat(append.Fd(), &st) != 0)
            throw LogError("write", logPath, ErrnoText());
    }
    std::string data;
    // A damaged log may end inside a line; the new lines still start on their own.
    char last = '\n';
    if (st.st_size > 0 && pread(append.Fd(), &last, 1, st.st_size - 1) != 1)
        throw LogError("read", logPath, ErrnoText());
    if (last != '\n')
        data += '\n';
    for (const std::string& line : lines)
        data += line.substr(0, MaxLogLineBytes - 1) + "\n";
    beforeWrite(st.st_size);
    append.StartsAt(st.st_size);
    // The caller takes back whatever part of the lines was written.
    if (!qrxposix::WriteAll(append.Fd(), data))
        throw LogError("write", logPath, ErrnoText());
}

void SimStore::CheckLog() {
    Lock lock(*this);
    const std::string& logPath = logPath_;
    const int fd = OpenLog(logPath, O_RDWR | O_APPEND | O_CREAT, "write");
    if (fd < 0)
        throw LogError("write", logPath, ErrnoText());
    close(fd);
}

void SimStore::Transact(const Change& change) {
    Lock lock(*this);
    LoadIfChanged();
    RecoverLog();
    SimMachine m = machine_;
    std::vector<std::string> log;
    const bool changed = change(m, log) && !(m == machine_);
    if (log.empty()) {
        if (changed)
            Write(m);
        return;
    }
    // A request is all or nothing, even when the program is killed half-way (PendingLogMark):
    // its lines are written before the change is stored, and taken back (no part of a line left
    // behind) when they cannot be written or the change cannot be stored. A failed request leaves
    // the state file as it was, without the mark, once its lines are gone.
    LogAppend appended;
    try {
        AppendLog(
            log,
            [&](off_t logSize) {
                if (changed)
                    Write(machine_, logSize);
            },
            appended);
        if (changed)
            Write(m);
    } catch (...) {
        if (appended.TakeBack())
            DropPendingMark();
        throw;
    }
}

void SimStore::DropPendingMark() noexcept {
    if (pendingLog_ < 0)
        return;
    try {
        Write(machine_);
    } catch (...) {
        // The next request takes the lines back and drops the mark.
    }
}

void SimStore::Replace(const SimMachine& m) {
    Lock lock(*this);
    Write(m, 0);
    RecoverLog();
}

std::vector<std::string> SimStore::ReadLog() {
    Lock lock(*this);
    LoadIfChanged();
    RecoverLog();
    std::string text;
    if (!ReadLogTail(logPath_, MaxLogReadBytes, text))
        return {};
    return SplitSimLines(text);
}

void SimStore::ClearLog() {
    Lock lock(*this);
    LoadIfChanged();
    RecoverLog();
    EmptyLog(logPath_);
}
