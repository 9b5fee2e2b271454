// The ffmpeg run: one conversion on a background thread, as the progress dialog starts it,
// with every status call printed as one line and the outcome at the end.
#include "tools/common/ToolCommand.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QGuiApplication>

#include "engine/KRABatch.h"
#include "engine/KRAProcess.h"
#include "engine/KRAProcessArg.h"
#include "engine/KRAStatusLog.h"
#include "engine/QKConvertSource.h"
#include "job/QKEncoderDesc.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XPlatform.h"

namespace {

class PrintingCallback : public KRAStatusCallback {
public:
    void onLengthMS(uint64_t lengthMS) override { print("length: " + std::to_string(lengthMS)); }
    void onPercentDone(int percent) override { print("percent: " + std::to_string(percent)); }
    void onFPS(double fps) override { print("fps: " + XStr::FromDouble(fps, 2, false).ToUTF8String()); }
    void onInfoLine(const QString& line) override { print("info: " + XStrFromQString(line).ToUTF8String()); }
    void onErrorLine(const QString& line) override
    {
        errors.fetch_add(1);
        print("error: " + XStrFromQString(line).ToUTF8String());
    }
    void onAction(const QString& action) override { print("action: " + XStrFromQString(action).ToUTF8String()); }
    void onWarningLine(const QString& line) override
    {
        warnings.fetch_add(1);
        print("warning: " + XStrFromQString(line).ToUTF8String());
    }
    void onOutcome(KRAConversionOutcome outcome) override
    {
        this->outcome.store(static_cast<int>(outcome));
        print("outcome: " + KRAOutcomeWords(outcome).toStdString());
    }

    std::atomic<int> errors{0};
    std::atomic<int> warnings{0};
    std::atomic<int> outcome{-1};

private:
    void print(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ToolWrite(line + "\n");
    }
    std::mutex m_lock;
};

// A path given on the command line, made absolute, its bytes kept as they are.
XStr AbsolutePath(const char* text)
{
    std::string path = text;
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            path = std::string(cwd) + "/" + path;
    }
    return XStr::FromUTF8(path);
}

int Run(int argc, char** argv)
{
    std::vector<XStr> sources;
    std::optional<XStr> dest;
    KRASpecialActions actions;
    QString encoderName;
    std::optional<QString> pre;
    std::optional<QString> args;
    long quitAfter = -1, pauseAfter = -1, resumeAfter = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return ToolFail(argv[0], "missing value after " + option);
        const char* value = argv[++i];
        if (option == "--src")
            sources.push_back(AbsolutePath(value));
        else if (option == "--dst")
            dest = *value ? AbsolutePath(value) : XStr(); // empty: the run is given no destination
        else if (option == "--action") {
            // NAME=ARGS: an action after the conversion, as the chain of effects gives it.
            const QString text = XStrToQString(XStr::FromUTF8(value));
            const QString name = text.section(QLatin1Char('='), 0, 0);
            actions.insert(name, QKDSPSpec(name, text.section(QLatin1Char('='), 1)));
        } else if (option == "--encoder")
            encoderName = XStrToQString(XStr::FromUTF8(value));
        else if (option == "--pre")
            pre = XStrToQString(XStr::FromUTF8(value));
        else if (option == "--args")
            args = XStrToQString(XStr::FromUTF8(value));
        else if (option == "--quit-after")
            quitAfter = std::atol(value);
        else if (option == "--pause-after")
            pauseAfter = std::atol(value);
        else if (option == "--resume-after")
            resumeAfter = std::atol(value);
        else
            return ToolFail(argv[0], "unknown option " + option);
    }
    if (sources.empty() || !dest || !args)
        return ToolFail(argv[0], "needs --src, --dst and --args");

    // A contact sheet draws its header text, which takes the GUI side of Qt; the tool has no
    // screen and draws offscreen. Other runs go without it (it costs start-up time and leaves a
    // runtime folder behind).
    std::unique_ptr<QGuiApplication> gui;
    if (!QCoreApplication::instance() && args->contains(QStringLiteral("contact_col"))) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int qtArgc = 1;
        static char toolName[] = "engine-tool";
        static char* qtArgv[] = {toolName, nullptr};
        gui = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
    }

    auto arg = std::make_shared<KRAProcessArg>();
    if (sources.size() == 1) {
        arg->srcFrom = QKConvertSource::withURL(XFileURL(sources[0]));
    } else {
        auto concat = std::make_shared<QKConvertSourceConcat>();
        QList<QUrl> urls;
        for (const XStr& source : sources)
            urls.append(XFileURL(source));
        concat->setConcatURLs(urls);
        arg->srcFrom = concat;
    }
    arg->urlTo = XFileURL(*dest);
    // Arguments that hold the actions' words run them as a batch would.
    QString ffmpegArgs = *args;
    const KRASpecialActions inArgs = KRABatch::pullActionArgs(ffmpegArgs);
    for (auto it = inArgs.begin(); it != inArgs.end(); ++it)
        actions.insert(it.key(), it.value());
    arg->specialActions2 = actions;
    arg->inputArgs = pre;
    arg->args = ffmpegArgs;
    auto callback = std::make_shared<PrintingCallback>();
    arg->callback = callback;
    arg->events = std::make_shared<KRAProcessEvents>();
    arg->events->setBPause(false); // the batch may run
    arg->encoder = encoderName.isEmpty() ? nullptr : QKEncoderDesc::findEncoder(encoderName);
    if (!arg->encoder)
        arg->encoder =
            QKEncoderDesc::makeVideoCodec(encoderName.isEmpty() ? QStringLiteral("[Custom]") : encoderName, QString());

    // The main thread sleeps until the conversion ends or the next scheduled quit, pause or
    // resume is due: it must not add CPU time of its own to what the run costs.
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    bool success = false;
    struct rusage before;
    getrusage(RUSAGE_SELF, &before);
    std::thread worker([&] {
        const bool result = KRAProcess::convertWithArg(arg);
        std::lock_guard<std::mutex> lock(doneMutex);
        success = result;
        done = true;
        doneSignal.notify_all();
    });
    const uint32_t start = GetTickCount();
    bool quitSent = false, pauseSent = false, resumeSent = false;
    std::unique_lock<std::mutex> lock(doneMutex);
    while (!done) {
        const long elapsed = static_cast<long>(GetTickCount() - start);
        if (quitAfter >= 0 && !quitSent && elapsed >= quitAfter) {
            arg->events->setBEvtQuit(true);
            quitSent = true;
        }
        if (pauseAfter >= 0 && !pauseSent && elapsed >= pauseAfter) {
            arg->events->setBPause(true);
            pauseSent = true;
        }
        if (resumeAfter >= 0 && pauseSent && !resumeSent && elapsed >= resumeAfter) {
            arg->events->setBPause(false);
            resumeSent = true;
        }
        long next = 60000;
        if (quitAfter >= 0 && !quitSent)
            next = std::min(next, quitAfter - elapsed);
        if (pauseAfter >= 0 && !pauseSent)
            next = std::min(next, pauseAfter - elapsed);
        if (resumeAfter >= 0 && !resumeSent)
            next = std::min(next, std::max(resumeAfter, pauseAfter) - elapsed);
        doneSignal.wait_for(lock, std::chrono::milliseconds(std::max(next, 1L)), [&] { return done; });
    }
    lock.unlock();
    worker.join();
    const bool ok = success && callback->errors.load() == 0;
    const bool withWarnings = callback->outcome.load() == static_cast<int>(KRAConversionOutcome::ConvertedWithWarnings);
    ToolWrite(!ok ? "result: failure\n" : withWarnings ? "result: converted with warnings\n" : "result: success\n");

    // Our own CPU time, without the children's, for the benchmark: the whole process, and the
    // part spent from the start of the conversion on.
    struct rusage self;
    if (getrusage(RUSAGE_SELF, &self) == 0) {
        const long long us = (static_cast<long long>(self.ru_utime.tv_sec) + self.ru_stime.tv_sec) * 1000000LL +
                             self.ru_utime.tv_usec + self.ru_stime.tv_usec;
        const long long beforeUs =
            (static_cast<long long>(before.ru_utime.tv_sec) + before.ru_stime.tv_sec) * 1000000LL +
            before.ru_utime.tv_usec + before.ru_stime.tv_usec;
        fprintf(stderr, "self-cpu-us: %lld\nrun-cpu-us: %lld\n", us, us - beforeUs);
    }
    return ok ? 0 : 1;
}

const ToolCommand kRun("run",
                       "--src S [--src S2 ...] --dst D [--encoder NAME] [--pre TEXT] --args TEXT [--action NAME=ARGS "
                       "...] [--quit-after MS] "
                       "[--pause-after MS --resume-after MS]   (times from the start of the run)",
                       Run);

} // namespace
