// Loading every profile: a store of 500 KB with a profile for each of the 28 encoders and 50
// user profiles (page state, effect chains, naming, copies for batch profiles), loaded the way
// the converter setup loads it when it opens. Prints the median load time over several runs,
// each from a cold process cache (the store file is parsed every time), against one Python
// json.load of the same file, timed both inside Python and as the whole Python process.
//
// Target: at most 50 ms per load.
#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "common/ToolRun.h"
#include "job/KRECodecs.h"
#include "media/QKLocateFFmpeg.h"
#include "platform/XStrQString.h"
#include "setup/KRAConfig.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"
#include "xclass/XRegistryTransaction.h"

namespace {

constexpr int kRuns = 15;
constexpr long kTargetBytes = 500 * 1000;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long FileSize(const std::string& path)
{
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// One profile's values at key (and, with copies, at key\Batch N).
void WriteProfile(XRegistryTransaction& t, const XStr& key, int n)
{
    const wchar_t* root = L"HKCU";
    const QString args =
        QStringLiteral("-vcodec libx264 -preset slow -crf %1 -profile:v high -level 4.1 -pix_fmt yuv420p "
                       "-acodec aac -b:a 160k -ac 2 -movflags +faststart -metadata comment=\"profile %1\"")
            .arg(n % 51);
    t.SetString(XStrFromQString(args), L"kRA_CLI", root, key.p);
    t.SetString(L"mp4", L"kRA_CustomExt", root, key.p);
    const XStr frontend = key + L"\\encFrontendData";
    for (int i = 0; i < 8; ++i)
        t.SetString(XStrFromQString(QStringLiteral("value %1 of the page state, kept for the page").arg(i)),
                    XStrFromQString(QStringLiteral("pageState%1").arg(i)), root, frontend.p);
    t.SetString(L"-dspeffect1=\"Crop=-vf crop=1280:720:0:0\" -dspeffect2=\"Deinterlace=-vf yadif\" "
                L"-dspeffect3=\"Fade In=-fadein=2.5\"",
                L"KRADSPEffects", root, key.p);
    t.SetString(L"/home/user/Videos/Converted", L"KRAUserFolderStr", root, key.p);
    t.SetString(L"Videos/Converted", L"KRAUserFolderFriendlyName", root, key.p);
    const char bookmark[] = "/home/user/Videos/Converted";
    t.SetBinary(L"KRAUserFolderData", bookmark, sizeof bookmark - 1, root, key.p);
    t.SetString(L"[artist]/[album]/[track] - [title]", L"KRADynamicNaming", root, key.p);
    t.SetDWORD(2, L"KRAUserFolder", root, key.p);
}

bool BuildStore(const std::string& path)
{
    unsetenv("XCLASS_XREGISTRY_LOCATION");
    setenv("XCLASS_XREGISTRY_LOCATION", path.c_str(), 1);
    XRegistry::DropCache();
    QStringList names;
    for (const QKEncoderDescRef& encoder : KRECodecs::listEncodersLGPL())
        names.append(encoder->name());
    for (const QKEncoderDescRef& encoder : KRECodecs::listEncodersGPL())
        names.append(encoder->name());
    names.append(QKEncoderDesc::strMultiEncoder());
    for (int i = 0; names.size() < 28 + 50; ++i)
        names.append(QStringLiteral("My settings %1 \"%2\"").arg(i).arg(names[i % 28]));

    XRegistryTransaction t;
    t.SetDWORD(1, L"kRAAllowProfiles", L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    for (int n = 0; n < names.size(); ++n)
        WriteProfile(t, KRAProfile::regKeyFor(names[n]), n);
    if (!t.Commit())
        return false;
    // Batch profiles' copies until the store has its size.
    for (int batch = 0; FileSize(path) < kTargetBytes; ++batch) {
        XRegistryTransaction copies;
        for (int n = 0; n < names.size(); ++n)
            WriteProfile(copies,
                         KRAProfile::regKeyFor(names[n]) + XStrFromQString(QStringLiteral("\\Batch %1").arg(batch)), n);
        if (!copies.Commit())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    XSetAppDataFolder(L"MarvoniVideo");
    // As the program starts: with a full ffmpeg at hand every encoder of the catalogue is offered.
    QKLocateFFmpeg::installHooks();
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    char folder[] = "/tmp/profile_bench.XXXXXX";
    if (!mkdtemp(folder)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string store = std::string(folder) + "/XRegistry";
    if (!BuildStore(store)) {
        fprintf(stderr, "the store could not be written\n");
        return 1;
    }
    printf("store: %ld bytes\n", FileSize(store));

    std::vector<double> loads;
    int profiles = 0;
    for (int run = 0; run < kRuns; ++run) {
        XRegistry::DropCache();
        const double start = Now();
        KRAConfig config;
        loads.push_back(Now() - start);
        profiles = static_cast<int>(config.encoderProfiles().size() + config.userProfiles().size());
    }
    printf("KRAConfig load (%d profiles): median %.1f ms, best %.1f ms\n", profiles, Median(loads) * 1000,
           *std::min_element(loads.begin(), loads.end()) * 1000);

    std::vector<double> inside;
    std::vector<double> whole;
    const std::string script = "import json,sys,time\nt=time.perf_counter()\njson.load(open(sys.argv[1]))\n"
                               "print(time.perf_counter()-t)\n";
    for (int run = 0; run < kRuns; ++run) {
        const double start = Now();
        const ToolRunResult python = RunProcess({"/usr/bin/python3", "-c", script, store});
        whole.push_back(Now() - start);
        if (python.status != 0) {
            fprintf(stderr, "python3: %s\n", python.err.c_str());
            return 1;
        }
        inside.push_back(atof(python.out.c_str()));
    }
    printf("python3 json.load: median %.1f ms parsing, %.1f ms as a whole process\n", Median(inside) * 1000,
           Median(whole) * 1000);
    printf("ratio load / python parse: %.2f; target: load <= 50 ms: %s\n", Median(loads) / Median(inside),
           Median(loads) <= 0.050 ? "met" : "NOT met");
    const std::string cleanup = "rm -rf '" + std::string(folder) + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
