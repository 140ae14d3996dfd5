// The simulated backend: every request runs one locked transaction on the shared state file, so
// all processes with the driver open see one machine, and logs itself in the request log.
#include <cstring>
#include <exception>

#include "simulator/StateStore.h"
#include "vxd/Backend.h"

namespace {

class SimulatedBackend : public Backend {
public:
    explicit SimulatedBackend(std::unique_ptr<SimStore> store) : store_(std::move(store)) {}

    bool Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* bytesReturned) override {
        // The answer goes to a local buffer first: the caller's buffer is written only when the
        // request succeeded and its effect is safely stored.
        unsigned char result[SimMachineAnswerSize] = {};
        uint32_t returned = 0;
        SimOutcome outcome;
        const bool stored = Transact([&](SimMachine& m, std::vector<std::string>& log) {
            outcome = SimControl(m, code, in, inSize, out ? result : nullptr,
                                 outSize < sizeof result ? outSize : sizeof result, &returned);
            if (!outcome.logLine.empty())
                log.push_back(outcome.logLine);
            return outcome.ok && outcome.changed;
        });
        if (!stored || !outcome.ok)
            return false;
        if (out && returned)
            std::memcpy(out, result, returned);
        if (bytesReturned)
            *bytesReturned = returned;
        return true;
    }

    int Cpuid(uint32_t leaf, uint32_t regs[4]) override {
        uint32_t answer[4] = {};
        // When its file cannot be used the simulated processor says nothing, rather than letting
        // the host's own processor speak for it, and the programs learn that it was not read.
        const bool answered = Transact([&](SimMachine& m, std::vector<std::string>& log) {
            log.push_back(SimCpuid(m, leaf, answer).logLine);
            return false;
        });
        std::memcpy(regs, answer, sizeof answer);
        return answered ? QRX_CPUID_ANSWERED : QRX_CPUID_UNANSWERED;
    }

    bool OutPort(uint16_t port, uint32_t value) override {
        return Transact([&](SimMachine& m, std::vector<std::string>& log) {
            const SimOutcome outcome = SimOutPort(m, port, value);
            log.push_back(outcome.logLine);
            return outcome.changed;
        });
    }

private:
    // False when the state file could not be used; that is reported once per distinct problem,
    // not on every request of a program that goes on regardless.
    bool Transact(const SimStore::Change& change) {
        try {
            store_->Transact(change);
        } catch (const std::exception& e) {
            if (lastReport_ != e.what())
                ReportProblem(e.what());
            lastReport_ = e.what();
            return false;
        }
        lastReport_.clear();
        return true;
    }

    std::unique_ptr<SimStore> store_;
    std::string lastReport_;
};

} // namespace

std::unique_ptr<Backend> OpenSimulatedBackend() {
    try {
        auto store = std::make_unique<SimStore>(SimStatePath());
        // Creates a missing machine and refuses the open when the file is damaged, or when the
        // request log cannot be written, as no request could then succeed.
        store->Transact([](SimMachine&, std::vector<std::string>&) { return false; });
        store->CheckLog();
        return std::make_unique<SimulatedBackend>(std::move(store));
    } catch (const std::exception& e) {
        ReportProblem(e.what());
        return nullptr;
    }
}
