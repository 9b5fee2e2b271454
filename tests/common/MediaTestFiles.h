// Media for tests, made by the real ffmpeg (lavfi testsrc and sine) in private temporary
// folders, and small helpers around it. Nothing here goes through a shell.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "XTempFile.h"

extern char** environ;

// Runs a program found on PATH with the arguments, all output to /dev/null; true on exit 0.
inline bool RunQuietly(const std::vector<std::string>& args)
{
    std::vector<std::string> all = args;
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A video with a sine sound track: "ffmpeg -f lavfi -i testsrc=... -f lavfi -i sine=...".
// extra arguments go before the output name (metadata, codecs).
inline bool MakeTestVideo(const std::string& path, const std::string& size = "320x240", const std::string& rate = "25",
                          const std::string& seconds = "1", const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
        "testsrc=duration=" + seconds + ":size=" + size + ":rate=" + rate, "-f", "lavfi", "-i",
        "sine=duration=" + seconds, "-shortest"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("-y");
    args.push_back(path);
    return RunQuietly(args);
}

// A sound file only: "ffmpeg -f lavfi -i sine=...".
inline bool MakeTestAudio(const std::string& path, const std::string& seconds = "1",
                          const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "sine=duration=" + seconds};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("-y");
    args.push_back(path);
    return RunQuietly(args);
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

// A private temporary folder removed with everything in it; the path has no trailing "/".
class MediaTestDir {
public:
    MediaTestDir() : m_folder("media-test") {}
    std::string path() const
    {
        std::string p = m_folder.ToUTF8String();
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        return p;
    }
    std::string file(const std::string& name) const { return path() + "/" + name; }

private:
    XTempFolder m_folder;
};
