// Sub-command registry shared by the test tools: each source file registers its own commands
// with a static ToolCommand, so that groups of commands live apart. A tool that needs the
// program's start-up steps (data folder, registry key, hooks) registers them with ToolSetup.
#pragma once

#include <string>

using ToolFunction = int (*)(int argc, char** argv); // argv[0] is the sub-command's name

struct ToolCommand {
    ToolCommand(const char* name, const char* usage, ToolFunction fn);
};

// Runs before any command, in registration order.
struct ToolSetup {
    explicit ToolSetup(void (*fn)());
};

// The tool's own name (the file name it was started as), for messages.
const char* ToolName();
// Writes text to standard output as it stands; exits the program on a write error.
void ToolWrite(const std::string& text);
// Reads all of standard input.
std::string ToolReadStdin();
// The path made absolute against the working folder (as given when it already is).
std::string ToolAbsolutePath(const std::string& path);
// Prints "TOOL NAME: message" to standard error and returns 1.
int ToolFail(const char* name, const std::string& message);
