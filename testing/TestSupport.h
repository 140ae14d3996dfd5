// Test support shared by every test executable: a private temporary home for each test process
// and a runner for the built programs.
#pragma once

#include <string>
#include <vector>

// The process's own temporary folder. XDG_CONFIG_HOME, XDG_STATE_HOME and HOME point inside it
// and QRX_SIM_STATE names a state file in it; it is removed when the tests end.
const std::string& TestDir();

// The output folder that holds every program, test and the driver module (with trailing '/').
std::string OutputDir();

struct ProcessResult {
    int exitStatus = -1; // exit status, or 128 + signal number when killed by a signal
    std::string out;     // standard output
    std::string err;     // standard error
};

// Runs a program from the output folder (or any path containing '/') with the given arguments
// and the current environment plus extraEnv ("NAME=value"; a bare "NAME" unsets the variable),
// standard input from /dev/null. A 32-bit program of a cross build runs under its emulator.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {});

// Runs the simulator tool qrxsim from the output folder; a non-zero exit status fails the
// current test. Returns its standard output.
std::string Sim(const std::vector<std::string>& args);
// "qrxsim get REG" without the line end.
std::string SimGet(const std::string& reg);
// The simulator's request log, one entry per line.
std::vector<std::string> SimLog();
// The lines of a request log that change the machine: register writes, cache switches and port
// outputs.
std::vector<std::string> MachineWrites(const std::vector<std::string>& log);
// The lines of a text, without their line ends; a final line end adds no empty line.
std::vector<std::string> SplitLines(const std::string& text);
// The words of a text, as the blanks between them separate them.
std::vector<std::string> SplitWords(const std::string& text);

// A table of cases, one a line: "INPUT -> EXPECTED". Blank lines, comments (#) and lines without
// an arrow are no cases; a table that cannot be read, or holds none, fails the current test.
struct ArrowRow {
    std::string line;     // the whole line, to name a failing case
    std::string input;    // before the arrow
    std::string expected; // after it
};
std::vector<ArrowRow> ReadArrowTable(const std::string& path);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
