// Media for tests, made by the real ffmpeg (lavfi testsrc and sine) in private temporary
// folders (TestTempDir), and small helpers around it. Nothing here goes through a shell.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/TestFiles.h"
#include "common/ToolRun.h"

// A video with a sine sound track: "ffmpeg -f lavfi -i testsrc=... -f lavfi -i sine=...".
// extra arguments go before the output name (metadata, codecs).
inline bool MakeTestVideo(const std::string& path, const std::string& size = "320x240", const std::string& rate = "25",
                          const std::string& seconds = "1", const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{
        "ffmpeg",   "-v",    "error", "-nostdin",
        "-f",       "lavfi", "-i",    "testsrc=duration=" + seconds + ":size=" + size + ":rate=" + rate,
        "-f",       "lavfi", "-i",    "sine=duration=" + seconds,
        "-shortest"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("-y");
    args.push_back(path);
    return RunProgramQuietly(args);
}

// A sound file only: "ffmpeg -f lavfi -i sine=...".
inline bool MakeTestAudio(const std::string& path, const std::string& seconds = "1",
                          const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "sine=duration=" + seconds};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("-y");
    args.push_back(path);
    return RunProgramQuietly(args);
}

inline void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline bool PathExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The full path of a program on PATH; empty when none.
inline std::string ProgramOnPath(const std::string& name)
{
    const char* path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        const std::string candidate = folders.substr(begin, end - begin) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return std::string();
}

// The duration ffprobe reads from a media file's container, in seconds; -1 when it reads none.
inline double ProbedDuration(const std::string& path)
{
    ToolRunOptions options;
    options.searchPath = true;
    const std::string text =
        RunProcess({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, options).out;
    return text.empty() ? -1 : std::atof(text.c_str());
}

// Overwrites count bytes in the middle of the file, far from its header (and, for MP4 and AVI,
// from the index at its end), with the same noise every time: a damaged frame or two that
// ffmpeg reports, conceals and goes past.
inline bool DamageMiddle(const std::string& path, size_t count)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    if (bytes.size() < count * 4)
        return false;
    uint32_t state = 12345;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + count; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 16);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
