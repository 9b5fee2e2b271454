// A whole batch through the real batch runner, without a window or a display: one line per
// file, then the texts the progress dialog would show at the end.
#include "tools/common/ToolCommand.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/KRABatchRunner.h"
#include "platform/XQtMainThreadPoster.h"

namespace {

int Usage()
{
    fprintf(stderr, "usage: engine-tool batch --src S... --dst-folder D --ext .mkv --args TEXT [--slots N] "
                    "[--pause-after MS --resume-after MS] [--cancel-after MS] [--effect NAME=ARGS]...\n");
    return 2;
}

bool Number(const char* text, long* out)
{
    char* end = nullptr;
    *out = strtol(text, &end, 10);
    return text[0] && !*end && *out >= 0 && *out <= 100000000;
}

int Batch(int argc, char** argv)
{
    QStringList sources;
    QString folder, ext, args;
    long slotCount = 0, pauseAfter = -1, resumeAfter = -1, cancelAfter = -1;
    QKDSPChain effects;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!strcmp(a, "--src") && hasValue) {
            while (i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0)
                sources.append(QString::fromLocal8Bit(argv[++i]));
        } else if (!strcmp(a, "--dst-folder") && hasValue) {
            folder = QString::fromLocal8Bit(argv[++i]);
        } else if (!strcmp(a, "--ext") && hasValue) {
            ext = QString::fromLocal8Bit(argv[++i]);
        } else if (!strcmp(a, "--args") && hasValue) {
            args = QString::fromLocal8Bit(argv[++i]);
        } else if (!strcmp(a, "--slots") && hasValue && Number(argv[i + 1], &slotCount)) {
            ++i;
        } else if (!strcmp(a, "--pause-after") && hasValue && Number(argv[i + 1], &pauseAfter)) {
            ++i;
        } else if (!strcmp(a, "--resume-after") && hasValue && Number(argv[i + 1], &resumeAfter)) {
            ++i;
        } else if (!strcmp(a, "--cancel-after") && hasValue && Number(argv[i + 1], &cancelAfter)) {
            ++i;
        } else if (!strcmp(a, "--effect") && hasValue) {
            const QString effect = QString::fromLocal8Bit(argv[++i]);
            const qsizetype equals = effect.indexOf(QLatin1Char('='));
            if (equals <= 0)
                return Usage();
            effects.append(QKDSPSpec(effect.left(equals), effect.mid(equals + 1)));
        } else {
            return Usage();
        }
    }
    if (sources.isEmpty() || folder.isEmpty() || ext.isEmpty())
        return Usage();

    // No platform plugin and no display: the runner needs an event loop, nothing more.
    int qtArgc = 1;
    char name[] = "engine-tool";
    char* qtArgv[] = {name, nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    XQtMainThreadPosterScope poster;

    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Batch"), ext);
    spec->EncoderArgsV2.strArgs = args;
    spec->dspEffects = effects;
    if (slotCount > 0)
        spec->dspEffects.append(QKDSPSpec(QStringLiteral("Multi-CPU Force"),
                                          QStringLiteral("-marvoni_thread_count=\"%1\"").arg(slotCount)));
    for (const QString& source : sources) {
        auto entry = std::make_shared<QKConversionEntry>();
        entry->convertFrom = QKConvertSource::withURL(QUrl::fromLocalFile(source));
        entry->urlTo = QUrl::fromLocalFile(folder + QLatin1Char('/') + QFileInfo(source).completeBaseName() + ext);
        entry->sourceSizeBytes = static_cast<uint64_t>(std::max<qint64>(0, QFileInfo(source).size()));
        spec->entries.append(entry);
    }

    auto runner = std::make_unique<KRABatchRunner>(spec);
    if (pauseAfter >= 0)
        QTimer::singleShot(static_cast<int>(pauseAfter), runner.get(), [r = runner.get()] { r->togglePause(); });
    if (resumeAfter >= 0)
        QTimer::singleShot(static_cast<int>(resumeAfter), runner.get(), [r = runner.get()] {
            if (r->paused())
                r->togglePause();
        });
    if (cancelAfter >= 0)
        QTimer::singleShot(static_cast<int>(cancelAfter), runner.get(), [r = runner.get()] { r->cancel(); });
    runner->start();
    // Sleeps until something happens: the timed form returns at once when nothing is pending
    // and would spin, taking the processor from the ffmpeg runs it measures.
    while (!runner->allDone() && !runner->cancelled())
        app.processEvents(QEventLoop::WaitForMoreEvents);

    bool allOk = runner->allDone();
    for (qsizetype i = 0; i < spec->entries.size(); ++i) {
        const QKConversionEntryRef& entry = spec->entries.at(i);
        const QString dest = entry->urlTo.toLocalFile();
        const bool ok = runner->allDone() && !entry->hadErrors && QFileInfo(dest).size() > 0;
        allOk = allOk && ok;
        const auto logged = runner->logErrors().constFind(static_cast<uint64_t>(i));
        const bool warned = logged != runner->logErrors().constEnd() && (*logged)->convertedWithWarnings();
        printf("done: %lld %s -> %s %s\n", static_cast<long long>(i), qPrintable(sources.at(i)), qPrintable(dest),
               !ok      ? "failed"
               : warned ? "ok with warnings"
                        : "ok");
        // What the status log shows for the file.
        if (logged != runner->logErrors().constEnd()) {
            for (const QString& line : (*logged)->entries)
                printf("log: %lld %s\n", static_cast<long long>(i), qPrintable(line));
        }
    }
    for (const QString& label :
         {runner->mainLabelText(), runner->elapsedText(), runner->leftText(), runner->speedText()})
        printf("label: %s\n", qPrintable(label));
    printf("title: %s\n", qPrintable(runner->titleText()));
    fflush(stdout);
    runner.reset();
    return allOk ? 0 : 1;
}

const ToolCommand kBatch("batch",
                         "batch --src S... --dst-folder D --ext .mkv --args TEXT [--slots N] [--pause-after MS "
                         "--resume-after MS] [--cancel-after MS] [--effect NAME=ARGS]...",
                         Batch);

} // namespace
