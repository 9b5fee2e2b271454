// Helpers of the naming tests: tag sets written inline, and running naming-tool with a time
// limit. The temporary folders, environment and store scopes are the common ones.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "media/NTag.h"
#include "xclass/XStr.h"

inline std::string U8(const XStr& text)
{
    return text.ToUTF8String();
}

inline XStr W(const std::string& text)
{
    return XStr::FromUTF8(text);
}

inline NTag MakeTags(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> elements)
{
    NTag tags;
    for (const auto& [name, value] : elements)
        tags.AddTag(name, value);
    return tags;
}

using NamingToolResult = ToolRunResult;

// Runs naming-tool with the arguments; killed (and timedOut set) after timeoutMs.
inline NamingToolResult RunNamingTool(const std::vector<std::string>& args, int timeoutMs = 300000)
{
    return RunTestTool(TestToolPath("naming-tool"), args, std::string(), timeoutMs);
}
