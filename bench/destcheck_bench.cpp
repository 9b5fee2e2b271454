// The destination check on 1,000 small files named "[artist]/[title]" (so every file is
// probed), on the check's pool of four, against a shell loop running ffprobe once per file;
// then the same check for 3 encoders with the information already read (as the converter
// window's information cache holds it); then the files-already-exist dialog with 10,000 rows,
// from toggling every row to the new caption. Prints wall times and the ratio.
//
// Targets: at most 0.4 of the loop's time; at most 1 s for 1,000 files x 3 encoders cached;
// at most 100 ms for the caption. Run it with QT_QPA_PLATFORM=offscreen (the default here).
#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/ToolRun.h"
#include "media/QKLocateFFmpeg.h"
#include "media/QKMediaFileInfo.h"
#include "naming/KRACheckFilenames.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAFileAlreadyExistsDialog.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

namespace {

constexpr int kFiles = 1000;

// A shorter run for a quick look: DESTCHECK_FILES=100.
int Files()
{
    const int n = qEnvironmentVariableIntValue("DESTCHECK_FILES");
    return n > 0 ? n : kFiles;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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
    for (int i = 0; i < Files(); ++i) {
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
    printf("cached, %d files x 3 encoders: %.3f s (target <= 1 s: %s); %lld entries\n", Files(), cachedTime,
           cachedTime <= 1.0 ? "met" : "NOT met", static_cast<long long>(cached->entries.size()));
    (void)probed;

    // The files-already-exist dialog with 10,000 rows: from a toggle of every row to the new
    // caption, with every answer already known.
    auto many = std::make_shared<KRACheckFilenamesState>();
    for (int i = 0; i < 10000; ++i) {
        auto entry = std::make_shared<KRACheckFileNamesEntry>();
        entry->destination =
            QUrl::fromLocalFile(QString::fromStdString(dir + "/out/file" + std::to_string(i) + ".mkv"));
        many->entries.append(entry);
    }
    many->alreadyExists.insert(many->entries.last()->destination);
    KRAFileAlreadyExistsDialog dialog;
    dialog.setState(many);
    int checks = 0;
    QObject::connect(&dialog, &KRAFileAlreadyExistsDialog::checked, [&checks] { ++checks; });
    const auto waitForCheck = [&checks](int before) {
        QElapsedTimer limit;
        limit.start();
        while (checks == before && limit.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return checks != before;
    };
    waitForCheck(0);
    double worst = 0;
    for (int round = 0; round < 5; ++round) {
        for (bool on : {false, true}) {
            const int before = checks;
            QElapsedTimer timer;
            timer.start();
            dialog.toggleAll(on);
            if (!waitForCheck(before))
                return 1;
            worst = std::max(worst, static_cast<double>(timer.elapsed()));
        }
    }
    printf("10,000 rows, toggle all to new caption: worst of 10 %.0f ms (target <= 100 ms: %s); caption %s\n", worst,
           worst <= 100 ? "met" : "NOT met", qPrintable(dialog.okButtonText()));
    return RunProcess({"/bin/rm", "-rf", dir}).status == 0 ? 0 : 1;
}
