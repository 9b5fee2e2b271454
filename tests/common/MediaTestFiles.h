// Media for tests, made by the real ffmpeg (lavfi testsrc and sine) in private temporary
// folders (TestTempDir), and small helpers around it. Nothing here goes through a shell.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// An MP3 of two seconds with a 700x700 cover picture (a video stream marked attached_pic), the
// way tagging programs store album art.
inline bool MakeMP3WithCoverArt(const std::string& path, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"ffmpeg",
                                  "-v",
                                  "error",
                                  "-nostdin",
                                  "-f",
                                  "lavfi",
                                  "-i",
                                  "sine=duration=2",
                                  "-f",
                                  "lavfi",
                                  "-i",
                                  "color=red:size=700x700:duration=1",
                                  "-map",
                                  "0:a",
                                  "-map",
                                  "1:v",
                                  "-frames:v",
                                  "1",
                                  "-c:a",
                                  "libmp3lame",
                                  "-c:v",
                                  "mjpeg",
                                  "-disposition:v",
                                  "attached_pic"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("-y");
    args.push_back(path);
    return RunProgramQuietly(args);
}

// An ID3v1 tag (the 128 bytes at the end of an MP3) appended to the file; the texts go in as
// the bytes given, cut or padded with zeros to their 30 bytes.
inline bool AppendID3v1(const std::string& path, const std::string& title, const std::string& artist,
                        const std::string& album)
{
    std::string tag = "TAG";
    for (const std::string* field : {&title, &artist, &album})
        tag += field->substr(0, 30) + std::string(30 - std::min<size_t>(field->size(), 30), '\0');
    tag += "2001";                   // year
    tag += std::string(28, '\0');    // comment
    tag += std::string("\0\x05", 2); // track 5
    tag += '\x0C';                   // genre "Other"
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << tag;
    return tag.size() == 128 && out.good();
}

// Replaces every occurrence of from by to (of the same length) in the file's bytes: a tag
// written by ffmpeg in plain ASCII becomes one in another encoding.
inline bool PatchFileBytes(const std::string& path, const std::string& from, const std::string& to)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    if (from.empty() || from.size() != to.size())
        return false;
    bool found = false;
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size())) {
        bytes.replace(at, from.size(), to);
        found = true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return found && out.good();
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
