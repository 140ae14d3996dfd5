// StateFile: the simulated machine's file, its strict reader and the locked, atomic update.
#include "simulator/StateFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posixlib/BaseDirectory.h"
#include "platform/posixlib/Files.h"
#include "simulator/SimText.h"

namespace {

constexpr const char* StateHeader =
    "# Quorix simulated processor. Change it with qrxsim; a hand edit must keep this form.\n";
constexpr uint64_t MaxStateBytes = 64 * 1024;

// Every log line is far shorter than this, so a log of more than TrimAtBytes holds more than
// TrimAtBytes / MaxLogLineBytes lines, and trimming it to TrimKeepLines never goes below the
// promised number.
constexpr size_t MaxLogLineBytes = 64;
constexpr size_t TrimKeepLines = SimLogKeepLines + SimLogKeepLines / 2;
constexpr size_t TrimAtBytes = MaxLogLineBytes * (SimLogKeepLines * 5 / 2);

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

// Written beside and renamed over, so a reader (or a crash) only ever finds the old or the new
// content. Not flushed: the machine's state need not outlive the computer, any more than real
// registers do.
bool ReplaceFile(const std::string& path, const std::string& data) {
    std::string cause;
    return qrxposix::ReplaceFile(path, data, 0644, qrxposix::Durability::Unflushed, cause);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream in(line);
    std::string token;
    while (in >> token)
        tokens.push_back(token);
    return tokens;
}

// A damaged file can hold anything; the message quotes only a short, printable excerpt, so the
// terminal that shows it is not fed control characters or pages of junk.
std::string Excerpt(const std::string& text) {
    constexpr size_t MaxChars = 24;
    std::string shown;
    for (char c : text.substr(0, MaxChars))
        shown += c >= 0x20 && c <= 0x7E ? c : '?';
    return text.size() > MaxChars ? shown + "..." : shown;
}

SimStateError NotARegularFile(const std::string& path) {
    return SimStateError("the simulated processor's state file " + Quote(path) +
                         " is not a regular file; remove it, or choose another file with --state "
                         "or QRX_SIM_STATE");
}

bool ValidVendor(const std::string& vendor) {
    if (vendor.size() != 12)
        return false;
    for (char c : vendor)
        if (c < 0x21 || c > 0x7E)
            return false;
    return true;
}

} // namespace

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

std::string FormatState(const SimMachine& m) {
    std::ostringstream out;
    out << StateHeader << "format 1\n"
        << "preset " << m.preset << "\n"
        << "vendor " << m.id.vendor << "\n"
        << "family " << m.id.family << "\n"
        << "model " << m.id.model << "\n"
        << "stepping " << m.id.stepping << "\n"
        << "maxleaf " << m.id.maxLeaf << "\n"
        << "tsc " << (m.id.tsc ? 1 : 0) << "\n"
        << "bus " << m.busMhz << "\n"
        << "cr0 " << Hex8(m.cr0) << "\n"
        << "port " << Hex8(m.port) << "\n";
    for (const auto& [index, value] : m.msrs)
        out << "msr " << Hex8(index) << " " << Hex16(value) << "\n";
    out << "fail";
    for (uint32_t code : m.failing)
        out << " " << code;
    out << "\n";
    return out.str();
}

bool ParseState(const std::string& text, SimMachine& result, std::string& error) {
    SimMachine m;
    std::set<std::string> seen;
    const std::vector<std::string> lines = SplitLines(text);
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    for (const std::string& line : lines) {
        ++lineNumber;
        if (line.find('\0') != std::string::npos)
            return fail("contains a zero byte");
        const std::vector<std::string> t = Tokens(line);
        if (t.empty() || t[0][0] == '#')
            continue;
        const std::string& key = t[0];
        if (key != "msr" && !seen.insert(key).second)
            return fail("\"" + key + "\" appears twice");
        uint64_t value = 0;
        auto oneValue = [&]() { return t.size() == 2; };
        if (key == "format") {
            if (!oneValue() || t[1] != "1")
                return fail("unknown format (expected \"format 1\")");
        } else if (key == "preset") {
            if (!oneValue() || (t[1] != CustomPreset && !FindPreset(t[1])))
                return fail("unknown preset");
            m.preset = t[1];
        } else if (key == "vendor") {
            if (!oneValue() || !ValidVendor(t[1]))
                return fail("the vendor must be 12 printable characters");
            m.id.vendor = t[1];
        } else if (key == "family" || key == "model" || key == "stepping") {
            if (!oneValue() || !ParseDecimal(t[1], 15, value))
                return fail(key + " must be a number from 0 to 15");
            (key == "family"  ? m.id.family
             : key == "model" ? m.id.model
                              : m.id.stepping) = static_cast<uint32_t>(value);
        } else if (key == "maxleaf") {
            if (!oneValue() || !ParseDecimal(t[1], 0xFFFFFFFFu, value))
                return fail("maxleaf must be a 32-bit decimal number");
            m.id.maxLeaf = static_cast<uint32_t>(value);
        } else if (key == "tsc") {
            if (!oneValue() || (t[1] != "0" && t[1] != "1"))
                return fail("tsc must be 0 or 1");
            m.id.tsc = t[1] == "1";
        } else if (key == "bus") {
            if (!oneValue() || !ParseDecimal(t[1], 1000, value) || value == 0)
                return fail("bus must be a clock from 1 to 1000 MHz");
            m.busMhz = static_cast<uint32_t>(value);
        } else if (key == "cr0" || key == "port") {
            if (!oneValue() || !ParseHex(t[1], 8, value))
                return fail(key + " must be up to 8 hexadecimal digits");
            (key == "cr0" ? m.cr0 : m.port) = static_cast<uint32_t>(value);
        } else if (key == "msr") {
            uint64_t index = 0;
            if (t.size() != 3 || !ParseHex(t[1], 8, index) || !ParseHex(t[2], 16, value))
                return fail("expected \"msr INDEX VALUE\" in hexadecimal");
            if (!m.msrs.emplace(static_cast<uint32_t>(index), value).second)
                return fail("register " + Hex8(static_cast<uint32_t>(index)) + " appears twice");
        } else if (key == "fail") {
            for (size_t i = 1; i < t.size(); ++i) {
                if (!ParseDecimal(t[i], 6, value) || value == 0)
                    return fail("fail lists request codes from 1 to 6");
                m.failing.insert(static_cast<uint32_t>(value));
            }
        } else {
            return fail("unknown entry \"" + Excerpt(key) + "\"");
        }
    }
    ++lineNumber;
    for (const char* required : {"format", "preset", "vendor", "family", "model", "stepping",
                                 "maxleaf", "tsc", "bus", "cr0", "port"})
        if (!seen.count(required))
            return fail("\"" + std::string(required) + "\" is missing");
    // The registers must be exactly the ones this processor has, or requests would answer for
    // registers the identity says do not exist.
    for (uint32_t index : MsrsOf(m.id))
        if (!m.msrs.count(index))
            return fail("register " + Hex8(index) + " is missing");
    for (const auto& entry : m.msrs)
        if (!HasMsr(m.id, entry.first))
            return fail("this processor has no register " + Hex8(entry.first));
    result = m;
    return true;
}

class SimStore::Lock {
public:
    explicit Lock(SimStore& store) : fd_(store.lockFd_) {
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR)
                throw SimStateError("cannot lock " + Quote(SimLockPath(store.path_)) + ": " +
                                    ErrnoText());
        }
    }
    ~Lock() { flock(fd_, LOCK_UN); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int fd_;
};

SimStore::SimStore(std::string statePath) : path_(std::move(statePath)) {
    MakeFolders(qrxposix::DirectoryOf(path_));
    const std::string lockPath = SimLockPath(path_);
    lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0)
        throw SimStateError("cannot open the lock file " + Quote(lockPath) + ": " + ErrnoText() +
                            "; choose another state file with --state or QRX_SIM_STATE");
}

SimStore::~SimStore() {
    if (lockFd_ >= 0)
        close(lockFd_);
}

void SimStore::Write(const SimMachine& m) {
    MakeFolders(qrxposix::DirectoryOf(path_));
    // A reset cannot mend a folder (or any other non-file) in the state file's place: the
    // rename would fail with a reason about the folder that holds it.
    struct stat st;
    if (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw NotARegularFile(path_);
    std::string text = FormatState(m);
    if (!ReplaceFile(path_, text))
        throw SimStateError("cannot write the simulated processor's state file " + Quote(path_) +
                            ": " + ErrnoText() + "; check that its folder is writable");
    machine_ = m;
    text_ = std::move(text);
    loaded_ = true;
}

void SimStore::LoadIfChanged() {
    struct stat st;
    if (stat(path_.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw SimStateError("cannot read the simulated processor's state file " + Quote(path_) +
                                ": " + ErrnoText());
        // A machine is born with an empty log, like any freshly reset one.
        Write(ResetMachine(*FindPreset(DefaultPreset)));
        if (truncate(SimLogPath(path_).c_str(), 0) != 0 && errno != ENOENT)
            throw SimStateError("cannot empty the request log " + Quote(SimLogPath(path_)) + ": " +
                                ErrnoText());
        return;
    }
    const std::string advice = "; run \"qrxsim reset\" to start again with a fresh " +
                               std::string(DefaultPreset) + " (or delete the file)";
    if (!S_ISREG(st.st_mode))
        throw NotARegularFile(path_);
    std::string text;
    if (!qrxposix::ReadWholeFile(path_, text, MaxStateBytes))
        throw SimStateError("cannot read the simulated processor's state file " + Quote(path_) +
                            ": " + ErrnoText());
    if (loaded_ && text == text_)
        return;
    std::string error;
    SimMachine m;
    if (text.size() > MaxStateBytes)
        error = "far too large for a state file";
    else if (!ParseState(text, m, error) && error.empty())
        error = "unreadable";
    if (!error.empty())
        throw SimStateError("the simulated processor's state file " + Quote(path_) +
                            " is damaged (" + error + ")" + advice);
    machine_ = m;
    text_ = std::move(text);
    loaded_ = true;
}

void SimStore::AppendLog(const std::vector<std::string>& lines) {
    std::string data;
    for (const std::string& line : lines)
        data += line.substr(0, MaxLogLineBytes - 1) + "\n";
    const std::string logPath = SimLogPath(path_);
    const int fd = open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || !qrxposix::WriteAll(fd, data)) {
        const std::string why = ErrnoText();
        if (fd >= 0)
            close(fd);
        throw SimStateError("cannot write the request log " + Quote(logPath) + ": " + why);
    }
    struct stat st;
    const bool full = fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > TrimAtBytes;
    close(fd);
    if (!full)
        return;
    // Keep the newest lines; the appends since the last trim make this rare.
    std::string text;
    if (!qrxposix::ReadWholeFile(logPath, text, UINT64_MAX))
        return;
    // from becomes the start of the newest TrimKeepLines lines.
    size_t from = 0, count = 0, i = text.empty() ? 0 : text.size() - 1;
    while (i > 0) {
        const size_t nl = text.rfind('\n', i - 1);
        if (nl == std::string::npos)
            break;
        if (++count == TrimKeepLines) {
            from = nl + 1;
            break;
        }
        i = nl;
    }
    if (from > 0 && !ReplaceFile(logPath, text.substr(from)))
        throw SimStateError("cannot trim the request log " + Quote(logPath) + ": " + ErrnoText());
}

void SimStore::Transact(const Change& change) {
    Lock lock(*this);
    LoadIfChanged();
    SimMachine m = machine_;
    std::vector<std::string> log;
    const bool changed = change(m, log);
    if (changed && !(m == machine_))
        Write(m);
    if (!log.empty())
        AppendLog(log);
}

void SimStore::Replace(const SimMachine& m) {
    Lock lock(*this);
    Write(m);
    if (truncate(SimLogPath(path_).c_str(), 0) != 0 && errno != ENOENT)
        throw SimStateError("cannot empty the request log " + Quote(SimLogPath(path_)) + ": " +
                            ErrnoText());
}

std::vector<std::string> SimStore::ReadLog() {
    Lock lock(*this);
    LoadIfChanged();
    std::string text;
    if (!qrxposix::ReadWholeFile(SimLogPath(path_), text, UINT64_MAX)) {
        if (errno == ENOENT)
            return {};
        throw SimStateError("cannot read the request log " + Quote(SimLogPath(path_)) + ": " +
                            ErrnoText());
    }
    return SplitLines(text);
}

void SimStore::ClearLog() {
    Lock lock(*this);
    LoadIfChanged();
    if (truncate(SimLogPath(path_).c_str(), 0) != 0 && errno != ENOENT)
        throw SimStateError("cannot empty the request log " + Quote(SimLogPath(path_)) + ": " +
                            ErrnoText());
}
