// JSON speed: parses and writes a 20 MB document shaped like ffprobe output for many files
// with XJSON, then has Python's json module (C-accelerated) do the same with the same text
// in a child process, and prints MB/s for each and the ratios.
//
// MB/s are the document's size over the time taken, for parsing and writing alike, so the
// ratios compare times on the same tree. Each figure is the best of a few runs.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "xclass/XJSON.h"
#include "xclass/XStr.h"

extern char** environ;

namespace {

constexpr size_t kTargetSize = 20 * 1000 * 1000;
constexpr int kRuns = 3;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One file's probe, indented the way ffprobe prints it.
void AppendProbe(std::string& out, unsigned n)
{
    char buf[8192];
    snprintf(buf, sizeof buf,
             "        {\n"
             "            \"streams\": [\n"
             "                {\n"
             "                    \"index\": 0,\n"
             "                    \"codec_name\": \"h264\",\n"
             "                    \"codec_long_name\": \"H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10\",\n"
             "                    \"profile\": \"High\",\n"
             "                    \"codec_type\": \"video\",\n"
             "                    \"codec_tag_string\": \"avc1\",\n"
             "                    \"codec_tag\": \"0x31637661\",\n"
             "                    \"width\": %u,\n"
             "                    \"height\": %u,\n"
             "                    \"coded_width\": 1920,\n"
             "                    \"coded_height\": 1088,\n"
             "                    \"closed_captions\": 0,\n"
             "                    \"has_b_frames\": 2,\n"
             "                    \"sample_aspect_ratio\": \"1:1\",\n"
             "                    \"display_aspect_ratio\": \"16:9\",\n"
             "                    \"pix_fmt\": \"yuv420p\",\n"
             "                    \"level\": 40,\n"
             "                    \"chroma_location\": \"left\",\n"
             "                    \"field_order\": \"progressive\",\n"
             "                    \"refs\": 1,\n"
             "                    \"is_avc\": \"true\",\n"
             "                    \"nal_length_size\": \"4\",\n"
             "                    \"id\": \"0x1\",\n"
             "                    \"r_frame_rate\": \"25/1\",\n"
             "                    \"avg_frame_rate\": \"25/1\",\n"
             "                    \"time_base\": \"1/12800\",\n"
             "                    \"start_pts\": 0,\n"
             "                    \"start_time\": \"0.000000\",\n"
             "                    \"duration_ts\": %u,\n"
             "                    \"duration\": \"%u.%06u\",\n"
             "                    \"bit_rate\": \"%u\",\n"
             "                    \"bits_per_raw_sample\": \"8\",\n"
             "                    \"nb_frames\": \"%u\",\n"
             "                    \"extradata_size\": 48,\n"
             "                    \"disposition\": {\n"
             "                        \"default\": 1,\n"
             "                        \"dub\": 0,\n"
             "                        \"original\": 0,\n"
             "                        \"comment\": 0,\n"
             "                        \"lyrics\": 0,\n"
             "                        \"karaoke\": 0,\n"
             "                        \"forced\": 0,\n"
             "                        \"hearing_impaired\": 0,\n"
             "                        \"visual_impaired\": 0,\n"
             "                        \"clean_effects\": 0,\n"
             "                        \"attached_pic\": 0,\n"
             "                        \"timed_thumbnails\": 0\n"
             "                    },\n"
             "                    \"tags\": {\n"
             "                        \"language\": \"und\",\n"
             "                        \"handler_name\": \"VideoHandler\",\n"
             "                        \"vendor_id\": \"[0][0][0][0]\",\n"
             "                        \"encoder\": \"Lavc60.31.102 libx264\"\n"
             "                    }\n"
             "                },\n"
             "                {\n"
             "                    \"index\": 1,\n"
             "                    \"codec_name\": \"aac\",\n"
             "                    \"codec_long_name\": \"AAC (Advanced Audio Coding)\",\n"
             "                    \"profile\": \"LC\",\n"
             "                    \"codec_type\": \"audio\",\n"
             "                    \"codec_tag_string\": \"mp4a\",\n"
             "                    \"codec_tag\": \"0x6134706d\",\n"
             "                    \"sample_fmt\": \"fltp\",\n"
             "                    \"sample_rate\": \"48000\",\n"
             "                    \"channels\": 2,\n"
             "                    \"channel_layout\": \"stereo\",\n"
             "                    \"bits_per_sample\": 0,\n"
             "                    \"id\": \"0x2\",\n"
             "                    \"r_frame_rate\": \"0/0\",\n"
             "                    \"avg_frame_rate\": \"0/0\",\n"
             "                    \"time_base\": \"1/48000\",\n"
             "                    \"start_pts\": 0,\n"
             "                    \"start_time\": \"0.000000\",\n"
             "                    \"duration_ts\": %u,\n"
             "                    \"duration\": \"%u.%06u\",\n"
             "                    \"bit_rate\": \"128000\",\n"
             "                    \"nb_frames\": \"%u\",\n"
             "                    \"extradata_size\": 5,\n"
             "                    \"disposition\": {\n"
             "                        \"default\": 1,\n"
             "                        \"dub\": 0\n"
             "                    },\n"
             "                    \"tags\": {\n"
             "                        \"language\": \"eng\",\n"
             "                        \"handler_name\": \"SoundHandler \\\"quoted\\\" \xc3\xa9t\xc3\xa9\"\n"
             "                    }\n"
             "                }\n"
             "            ],\n"
             "            \"format\": {\n"
             "                \"filename\": \"/home/user/Movies/Holiday %u/clip \xe2\x80\x94 %05u.mp4\",\n"
             "                \"nb_streams\": 2,\n"
             "                \"nb_programs\": 0,\n"
             "                \"format_name\": \"mov,mp4,m4a,3gp,3g2,mj2\",\n"
             "                \"format_long_name\": \"QuickTime / MOV\",\n"
             "                \"start_time\": \"0.000000\",\n"
             "                \"duration\": \"%u.%06u\",\n"
             "                \"size\": \"%u\",\n"
             "                \"bit_rate\": \"%u\",\n"
             "                \"probe_score\": 100,\n"
             "                \"tags\": {\n"
             "                    \"major_brand\": \"isom\",\n"
             "                    \"minor_version\": \"512\",\n"
             "                    \"compatible_brands\": \"isomiso2avc1mp41\",\n"
             "                    \"title\": \"Clip\\tnumber %u\",\n"
             "                    \"encoder\": \"Lavf60.16.100\"\n"
             "                }\n"
             "            }\n"
             "        }",
             1280 + n % 640, 720 + n % 360, 128000 + n, n % 600, (n * 7919) % 1000000, 1000000 + n * 13, 250 + n % 1000,
             480000 + n, n % 600, (n * 104729) % 1000000, 470 + n % 900, n % 40, n, n % 600, (n * 31) % 1000000,
             1300000 + n * 7, 1040000 + n, n);
    out += buf;
}

std::string MakeDocument()
{
    std::string doc = "{\n    \"files\": [\n";
    for (unsigned n = 0; doc.size() < kTargetSize; n++) {
        if (n)
            doc += ",\n";
        AppendProbe(doc, n);
    }
    doc += "\n    ]\n}\n";
    return doc;
}

template <class F>
double Best(F f)
{
    double best = 1e30;
    for (int i = 0; i < kRuns; i++) {
        const double t0 = Now();
        f();
        best = std::min(best, Now() - t0);
    }
    return best;
}

const char* kPython = R"PY(
import json, sys, time
text = open(sys.argv[1], encoding="utf-8").read()
def best(f):
    b = 1e30
    for _ in range(3):
        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)
    return b
tree = json.loads(text)
loads = best(lambda: json.loads(text))
dumps = best(lambda: json.dumps(tree, ensure_ascii=False))
indent = best(lambda: json.dumps(tree, ensure_ascii=False, indent=4))
print(loads, dumps, indent)
)PY";

// Runs python3 on the document and returns its three times (or false).
bool RunPython(const std::string& path, double& loads, double& dumps, double& indent)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const char* argv[] = {"python3", "-c", kPython, path.c_str(), nullptr};
    pid_t pid;
    const int rc = posix_spawnp(&pid, "python3", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        fprintf(stderr, "cannot start python3: %s\n", strerror(rc));
        return false;
    }
    std::string reply;
    char chunk[256];
    ssize_t n;
    while ((n = read(out[0], chunk, sizeof chunk)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        reply.append(chunk, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    return sscanf(reply.c_str(), "%lf %lf %lf", &loads, &dumps, &indent) == 3;
}

double MBps(size_t bytes, double seconds)
{
    return static_cast<double>(bytes) / 1e6 / seconds;
}

} // namespace

int main()
{
    const std::string doc = MakeDocument();
    const size_t size = doc.size();

    char path[] = "/tmp/json-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, doc.data(), doc.size()) != static_cast<ssize_t>(doc.size())) {
        perror("temporary file");
        return 1;
    }
    close(fd);

    // Sanity: the tree must come out and write back to the same data.
    XJSON::AnyType* tree = XJSON::ParseUTF8(doc.data(), doc.size());
    if (!tree) {
        fprintf(stderr, "the generated document did not parse\n");
        unlink(path);
        return 1;
    }
    const int64_t files = tree->AsObject()->Get(L"files")->AsArray()->Count();

    const double parseUTF8 = Best([&] { delete XJSON::ParseUTF8(doc.data(), doc.size()); });
    XStr wide = XStr::FromUTF8Bytes(doc.data(), doc.size());
    const double decode = Best([&] { XStr w = XStr::FromUTF8Bytes(doc.data(), doc.size()); });
    const double parseWide = Best([&] { delete XJSON::Parse(wide); });
    size_t written = 0;
    const double writeUTF8 = Best([&] {
        std::string out;
        tree->ToUTF8(out);
        written = out.size();
    });
    const double writeWide = Best([&] { XStr text = tree->ToText(); });
    delete tree;

    double pyLoads = 0, pyDumps = 0, pyIndent = 0;
    const bool python = RunPython(path, pyLoads, pyDumps, pyIndent);
    unlink(path);

    printf("document: %.1f MB, %lld files (XJSON writes %.1f MB in its layout)\n", static_cast<double>(size) / 1e6,
           static_cast<long long>(files), static_cast<double>(written) / 1e6);
    printf("MB/s below = document size / time, best of %d\n", kRuns);
    printf("XJSON parse, UTF-8 bytes  %8.1f MB/s\n", MBps(size, parseUTF8));
    printf("XJSON parse, wide text    %8.1f MB/s  (decoding to XStr first: %.1f MB/s more)\n", MBps(size, parseWide),
           MBps(size, decode));
    printf("XJSON write, UTF-8        %8.1f MB/s\n", MBps(size, writeUTF8));
    printf("XJSON write, wide text    %8.1f MB/s\n", MBps(size, writeWide));
    if (!python) {
        printf("python3 json: not available\n");
        return 0;
    }
    printf("python json.loads         %8.1f MB/s\n", MBps(size, pyLoads));
    printf("python json.dumps         %8.1f MB/s  (indent=4: %.1f MB/s)\n", MBps(size, pyDumps), MBps(size, pyIndent));
    printf("ratio parse (XJSON UTF-8 / json.loads):  %.2f\n", pyLoads / parseUTF8);
    printf("ratio parse (XJSON wide / json.loads):   %.2f\n", pyLoads / parseWide);
    printf("ratio write (XJSON UTF-8 / json.dumps):  %.2f\n", pyDumps / writeUTF8);
    printf("ratio write (XJSON wide / json.dumps):   %.2f\n", pyDumps / writeWide);
    return 0;
}
