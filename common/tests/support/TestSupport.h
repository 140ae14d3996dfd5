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
    int exitStatus = -1;      // exit status, or 128 + signal number when killed by a signal
    std::string out;          // standard output
    std::string err;          // standard error
};

// Runs a program from the output folder (or any path containing '/') with the given arguments
// and the current environment plus extraEnv ("NAME=value"), standard input from /dev/null.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {});

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
