// marvoni-video: the program. Sets up the data folder and the settings store before anything
// else runs, then hands over to the Qt event loop.
#include "app/KRAPanelHost.h"
#include "app/KREAppDelegate.h"
#include "app/KREConfigPanel.h"
#include "app/KREStartup.h"
#include "app/QKLauncherBase.h"
#include "app/QKVersionInfo.h"
#include "batch/ui/KRABatchConvertDialog.h"
#include "media/QKLocateFFmpeg.h"
#include "platform/XQtMainThreadPoster.h"
#include "setup/KRACodecLogos.h"
#include "xclass/XExitCleanup.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace {

QtMessageHandler g_defaultMessageHandler = nullptr;

// Outside a desktop login (a service, a container, a remote shell) there is no session
// runtime folder; Qt then uses one of its own in the temporary folder and says so at every
// start. Nothing of this program needs that folder, so the notice is only noise.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    // The offscreen platform (tests, pictures) says this for every window it sizes.
    if (message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (g_defaultMessageHandler)
        g_defaultMessageHandler(type, context, message);
}

// Prints the usage for --help (0) or a wrong argument (2); -1 when the arguments are to be used.
int AnswerUsage(const KREAppDelegate::CommandLine& commandLine)
{
    if (commandLine.kind == KREAppDelegate::CommandLine::Kind::Help) {
        std::fputs(KREAppDelegate::usage("marvoni-video").toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (commandLine.kind == KREAppDelegate::CommandLine::Kind::Wrong) {
        std::fprintf(stderr, "marvoni-video: %s\n%s", commandLine.error.toLocal8Bit().constData(),
                     KREAppDelegate::usage("marvoni-video").toLocal8Bit().constData());
        return 2;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    // Help and a plainly wrong argument are answered first, on a terminal without a display too.
    // A first argument with one dash may be one of Qt's own (-platform, -style): Qt takes those
    // out below, and what is left is judged then.
    {
        const bool maybeQtOption = argc > 1 && argv[1][0] == '-' && argv[1][1] != '-' && argv[1][1] != '\0';
        const KREAppDelegate::CommandLine early = KREAppDelegate::parseCommandLine(argc, argv);
        if (early.kind == KREAppDelegate::CommandLine::Kind::Help ||
            (early.kind == KREAppDelegate::CommandLine::Kind::Wrong && !maybeQtOption))
            return AnswerUsage(early);
    }
    // First, before any thread: a SIGTERM, SIGINT or SIGHUP ends the program only after its
    // ffmpeg and ffprobe children are gone and their temporary files removed.
    const bool cleanupInstalled = XExitCleanup::InstallSignalHandlers();
    std::string warning;
    std::string notice;
    KREStartup::run(&warning, &notice);
    if (!notice.empty())
        std::fprintf(stderr, "marvoni-video: %s\n", notice.c_str());
    if (!warning.empty())
        std::fprintf(stderr, "marvoni-video: %s\n", warning.c_str());
    if (!cleanupInstalled)
        std::fprintf(stderr, "marvoni-video: could not watch for SIGTERM, SIGINT and SIGHUP: a program ended by "
                             "one of them may leave ffmpeg running and temporary files behind\n");
    // The encoder and effect catalogues ask whether a full (GPL) ffmpeg is at hand.
    QKLocateFFmpeg::installHooks();

    g_defaultMessageHandler = qInstallMessageHandler(FilterMessages);
    QApplication app(argc, argv);
    // The settings (window frames and the like) live under these names.
    QCoreApplication::setOrganizationName(QString::fromLatin1(KREStartup::kOrganizationName));
    QCoreApplication::setApplicationName(QString::fromWCharArray(KREStartup::kInternalName));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARVONI_APP_VERSION));

    // Qt has taken its own arguments out of argv; the rest are ours, bytes as they came.
    const KREAppDelegate::CommandLine commandLine = KREAppDelegate::parseCommandLine(argc, argv);
    if (const int status = AnswerUsage(commandLine); status >= 0)
        return status;

    XQtMainThreadPosterScope mainThreadPoster;
    // Encoder menus show each encoder's logo.
    KRACodecLogos::installAsEncoderMenuLogos();

    // The launchers' update link asks the maker's version list; "Advanced settings…" and
    // "Install missing codecs" open the configuration window.
    QKLauncherBase::setVersionLookup(QKVersionInfoGlobals::launcherLookup());
    KRAPanelHost::setConfigWindowOpener(
        [](const std::shared_ptr<KRAPanelHost>& host, bool ffmpegPage) { KREConfigPanel::showIn(host, ffmpegPage); });
    // The launcher's Batch Converter tile and --convert-folder open the batch converter.
    KRAPanelHost::setBatchConverterFactory(
        [](const std::shared_ptr<KRAPanelHost>& host, const std::optional<QList<QUrl>>& selection) {
            return std::static_pointer_cast<KRAPanel>(KRABatchConvertDialog::create(host, selection));
        });

    KREAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.start(commandLine);

    const int result = app.exec();
    KRAPanelHostBase::releaseAllInstances();
    return result;
}
