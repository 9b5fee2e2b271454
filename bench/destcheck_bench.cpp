// The destination check on 1,000 small files named "[artist]/[title]" (so every file is
// probed), on the check's pool of four, against a shell loop running ffprobe once per file;
// then the same check for 3 encoders with the information already read (as the converter
// window's information cache holds it). Prints wall times and the ratio.
//
// Targets: at most 0.4 of the loop's time; at most 1 s for 1,000 files x 3 encoders cached.
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/ToolRun.h"
#include "media/QKLocateFFmpeg.h"
#include "media/QKMediaFileInfo.h"
#include "naming/KRACheckFilenames.h"
#include "naming/KRAFileNaming.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

namespace {

constexpr int kFiles = 1000;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    XSetAppDataFolder(L"MarvoniVideo");
    QKLocateFFmpeg::installHooks();
    char folder[] = "/tmp/destcheck_bench.XXXXXX";
    if (!mkdtemp(folder)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string dir = folder;
    setenv("XCLASS_XREGISTRY_LOCATION", (dir + "/XRegistry").c_str(), 1);
    XRegistry::DropCache();
    const std::string clip = dir + "/clip.mp4";
    if (RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "testsrc=d=0.2:s=64x48:r=5",
                    "-metadata", "artist=Bench", "-metadata", "title=Clip", "-y", clip})
            .status != 0) {
        fprintf(stderr, "ffmpeg could not make the clip\n");
        return 1;
    }
    QList<KRACheckSourceItem> sources;
    std::string script = "for f in \"$@\"; do ffprobe -v error -of json -show_format -show_streams \"$f\" "
                         ">/dev/null; done";
    std::vector<std::string> loop{"/bin/sh", "-c", script, "sh"};
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = dir + "/f" + std::to_string(i) + ".mp4";
        if (RunProcess({"/bin/cp", clip, path}).status != 0)
            return 1;
        KRACheckSourceItem item;
        item.namingURL = XFileURL(XStr::FromUTF8(path));
        sources.append(item);
        loop.push_back(path);
    }

    auto naming = std::make_shared<KRAFileNaming>();
    naming->setFileNamingType(FileNamingDynamic);
    naming->setDestination(KRALocationDescriptor::withFolderPath(XStr::FromUTF8(dir + "/out")));
    naming->setDynamicFormat(QStringLiteral("[artist]/[title]"));
    KRACheckEncoderItem item;
    item.encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("MKV"), QStringLiteral(".mkv"));
    item.naming = naming;

    double start = Now();
    const ToolRunResult shell = RunProcess(loop);
    const double loopTime = Now() - start;
    if (shell.status != 0) {
        fprintf(stderr, "the ffprobe loop failed: %s\n", shell.err.c_str());
        return 1;
    }
    start = Now();
    const KRACheckFilenamesStateRef probed = KRACheckFilenames::run(sources, {item}, 4);
    const double checkTime = Now() - start;
    printf("ffprobe loop: %.2f s; check on 4 workers: %.2f s; ratio %.2f (target <= 0.40: %s)\n", loopTime, checkTime,
           checkTime / loopTime, checkTime / loopTime <= 0.40 ? "met" : "NOT met");

    for (KRACheckSourceItem& source : sources)
        source.info = QKMediaFileInfo::infoForFile(XPathFromFileURL(source.namingURL));
    KRACheckEncoderItem second = item, third = item;
    second.args.customFormatExt = QStringLiteral("mp4");
    third.args.customFormatExt = QStringLiteral("webm");
    start = Now();
    const KRACheckFilenamesStateRef cached = KRACheckFilenames::run(sources, {item, second, third}, 4);
    const double cachedTime = Now() - start;
    printf("cached, %d files x 3 encoders: %.3f s (target <= 1 s: %s); %lld entries\n", kFiles, cachedTime,
           cachedTime <= 1.0 ? "met" : "NOT met", static_cast<long long>(cached->entries.size()));
    (void)probed;
    return RunProcess({"/bin/rm", "-rf", dir}).status == 0 ? 0 : 1;
}
