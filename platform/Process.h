// Process seam: facts about the running program.
#pragma once

#include <string>

// The running program's full file name, as the process started it.
std::string ProgramFileName();
