// The fixture of tests that run whole conversions through the test tools with the real ffmpeg
// and ffprobe: skipped without them, and with a data folder of its own, so that no installed
// ffmpeg copy or debug log of the user's changes what the run does.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"

class RealFFmpegRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        m_appData.emplace("_APPDATA_OVERRIDE", dir.file("appdata"));
        mkdir(dir.file("appdata").c_str(), 0700);
        m_debug.emplace("MARVONI_DEBUG", nullptr);
    }

    TestTempDir dir;

private:
    std::optional<TestEnvScope> m_appData;
    std::optional<TestEnvScope> m_debug;
};
