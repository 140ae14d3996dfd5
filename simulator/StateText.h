// StateText: the text form of a simulated machine, as the state file holds it, and its strict
// reader.
#pragma once

#include <string>

#include "simulator/Machine.h"

// The text form of a machine, and its strict reader. The reader sets error to a one-line
// reason with the line number, and never throws.
std::string FormatState(const SimMachine& m);
bool ParseState(const std::string& text, SimMachine& m, std::string& error);
