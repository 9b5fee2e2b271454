// Runs engine-tool (built beside the tests) from an argument list, with standard input taken
// from a text and standard output and error collected through files (see ToolRun.h).
#pragma once

#include <string>
#include <vector>

#include "common/ToolRun.h"

using EngineToolResult = ToolRunResult;

inline std::string EngineToolPath()
{
    return TestToolPath("engine-tool");
}

inline EngineToolResult RunEngineTool(const std::vector<std::string>& args, const std::string& input = std::string())
{
    return RunTestTool(EngineToolPath(), args, input);
}
