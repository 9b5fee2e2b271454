// Sub-command registry of naming-tool: each source file registers its own commands with a
// static ToolCommand, so that groups of commands live apart.
#pragma once

#include <string>

using ToolFunction = int (*)(int argc, char** argv); // argv[0] is the sub-command's name

struct ToolCommand {
    ToolCommand(const char* name, const char* usage, ToolFunction fn);
};

// Writes text to standard output as it stands; exits the program on a write error.
void ToolWrite(const std::string& text);
// Prints "naming-tool NAME: message" to standard error and returns 1.
int ToolFail(const char* name, const std::string& message);
