// ui-shot: renders one of the program's windows offscreen, with sample content, to a PNG, so
// that a reviewer can look at it without a display.
//
//   ui-shot --list
//   ui-shot NAME OUT.png [--size WxH]
//   ui-shot [NAME] --check-keys
//
// --size gives the picture's size. A window whose own limits refuse that size (a fixed-size
// panel) is drawn at it all the same, its limits lifted for the picture, and ui-shot says so
// on standard output.
//
// Whatever the windows store (settings, remembered frames, caches) goes to a private folder
// that is removed afterwards: a picture never changes the user's files, and never depends on
// an earlier picture.
//
// Exit status 0 when the picture was written and Qt printed no warning while the window was
// built and drawn; 3 when it was written but Qt warned (the warnings go to standard error);
// 1 on any other failure; 2 for wrong arguments. --check-keys draws nothing: it lists the
// Alt+letter mnemonics that more than one control of the window (of every window, without a
// name) uses, and exits 4 when there are any.

#include "tools/ui-shot/KeyCheck.h"
#include "tools/ui-shot/UiShot.h"

#include "platform/XQtMainThreadPoster.h"
#include "platform/XStrQString.h"
#include "xclass/XExitCleanup.h"
#include "xclass/XTempFile.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLayout>
#include <QPixmap>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::vector<UiShot>& Registry()
{
    static std::vector<UiShot> shots;
    return shots;
}

int g_warnings = 0;

void MessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // The offscreen platform has no window manager to pass a window's size limits to, and says
    // so whenever a shown window changes them. That is no fault of the window.
    if (message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (type != QtDebugMsg && type != QtInfoMsg)
        ++g_warnings;
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int Usage()
{
    fprintf(stderr, "usage: ui-shot --list | ui-shot NAME OUT.png [--size WxH] | ui-shot [NAME] --check-keys\n");
    return 2;
}

bool ParseSize(const char* text, QSize* out)
{
    static const QRegularExpression pattern(QStringLiteral("^([1-9][0-9]{0,4})x([1-9][0-9]{0,4})$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLocal8Bit(text));
    if (!match.hasMatch())
        return false;
    *out = QSize(match.captured(1).toInt(), match.captured(2).toInt());
    return out->width() <= 8000 && out->height() <= 8000;
}

// Lets layouts, deferred calls and posted events settle before the picture is taken.
void Settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// Qt warns about a runtime folder that is missing or not private to us; a session's own one
// (where a Wayland or X socket may live) is kept when it is fine.
bool UsableRuntimeFolder(const QByteArray& path)
{
    struct stat info;
    return !path.isEmpty() && stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 0777) == 0700;
}

// Points the places windows store things at the private folder.
bool UsePrivateFolder(const XTempFolder& folder)
{
    if (folder.IsEmpty())
        return false;
    const QByteArray base = QFile::encodeName(XStrToQString(folder));
    const auto make = [&](const char* name) {
        const QByteArray path = base + name;
        return mkdir(path.constData(), 0700) == 0 ? path : QByteArray();
    };
    for (const auto& [variable, name] : {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data"},
                                         std::pair{"XDG_CACHE_HOME", "cache"}, std::pair{"XDG_STATE_HOME", "state"},
                                         std::pair{"_APPDATA_OVERRIDE", "appdata"}}) {
        const QByteArray path = make(name);
        if (path.isEmpty())
            return false;
        qputenv(variable, path);
    }
    // The settings store as well: a picture may make profiles, and never in the user's store.
    qputenv("XCLASS_XREGISTRY_LOCATION", base + "/XRegistry");
    if (!UsableRuntimeFolder(qgetenv("XDG_RUNTIME_DIR"))) {
        const QByteArray path = make("runtime");
        if (path.isEmpty())
            return false;
        qputenv("XDG_RUNTIME_DIR", path);
    }
    return true;
}

// Resizes the window; when its own limits keep it from that size, lifts them. False when it
// had to.
bool ResizeTo(QWidget* window, const QSize& size)
{
    window->resize(size);
    Settle();
    if (window->size() == size)
        return true;
    // A top-level layout sets the window's minimum (or fixes its size) on every activation.
    if (QLayout* layout = window->layout())
        layout->setSizeConstraint(QLayout::SetNoConstraint);
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window->resize(size);
    Settle();
    return false;
}

// Builds and shows the window, and says which of its mnemonics are taken twice; the number of
// them, or -1 when the window could not be built.
int CheckKeys(const UiShot& shot)
{
    UiShotKeep keep;
    QPointer<QWidget> window = shot.build(keep);
    if (!window) {
        fprintf(stderr, "ui-shot: %s could not be built\n", shot.name.toUtf8().constData());
        return -1;
    }
    window->show();
    Settle();
    const QStringList duplicates = window ? DuplicateMnemonics(window) : QStringList();
    for (const QString& line : duplicates)
        fprintf(stderr, "ui-shot: %s: %s\n", shot.name.toUtf8().constData(), line.toUtf8().constData());
    if (window)
        window->close();
    Settle();
    keep.clear();
    Settle();
    delete window.data();
    return static_cast<int>(duplicates.size());
}

} // namespace

UiShotRegistration::UiShotRegistration(UiShot shot)
{
    Registry().push_back(std::move(shot));
}

const std::vector<UiShot>& UiShots()
{
    return Registry();
}

int main(int argc, char** argv)
{
    XExitCleanup::InstallSignalHandlers();
    if (argc == 2 && strcmp(argv[1], "--list") == 0) {
        std::vector<UiShot> shots = Registry();
        std::sort(shots.begin(), shots.end(), [](const UiShot& a, const UiShot& b) { return a.name < b.name; });
        for (const UiShot& shot : shots)
            printf("%s\t%s\n", shot.name.toUtf8().constData(), shot.description.toUtf8().constData());
        return 0;
    }
    const bool checkAllKeys = argc == 2 && strcmp(argv[1], "--check-keys") == 0;
    if (argc != 3 && argc != 5 && !checkAllKeys)
        return Usage();
    QSize size;
    const bool checkKeys = argc == 3 && strcmp(argv[2], "--check-keys") == 0;
    if (argc == 5 && (strcmp(argv[3], "--size") != 0 || !ParseSize(argv[4], &size)))
        return Usage();

    const QString name = checkAllKeys ? QString() : QString::fromLocal8Bit(argv[1]);
    const auto found =
        std::find_if(Registry().begin(), Registry().end(), [&](const UiShot& shot) { return shot.name == name; });
    if (found == Registry().end() && !checkAllKeys) {
        fprintf(stderr, "ui-shot: no window named \"%s\" (ui-shot --list names them)\n", argv[1]);
        return 1;
    }

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Made before the application, removed after it has gone.
    const XTempFolder privateFolder("ui-shot-");
    if (!UsePrivateFolder(privateFolder)) {
        fprintf(stderr, "ui-shot: cannot make a private temporary folder\n");
        return 1;
    }
    qInstallMessageHandler(MessageHandler);
    QApplication app(argc, argv);
    // Blocks the windows post to the main thread run on this event loop, as in the program.
    const XQtMainThreadPosterScope poster;

    if (checkKeys || checkAllKeys) {
        int duplicates = 0;
        for (const UiShot& shot : Registry()) {
            if (!checkAllKeys && shot.name != name)
                continue;
            const int found = CheckKeys(shot);
            if (found < 0)
                return 1;
            duplicates += found;
        }
        return duplicates ? 4 : (g_warnings ? 3 : 0);
    }

    int status = 1;
    {
        UiShotKeep keep;
        QPointer<QWidget> window = found->build(keep);
        if (!window) {
            fprintf(stderr, "ui-shot: %s could not be built\n", argv[1]);
            return 1;
        }
        if (size.isEmpty())
            size = found->size;
        window->show();
        Settle();
        if (window && !size.isEmpty() && !ResizeTo(window, size))
            printf("ui-shot: %s does not take the size %dx%d by itself; drawn at it with its limits lifted\n", argv[1],
                   size.width(), size.height());
        const QImage image = window ? window->grab().toImage() : QImage();
        if (image.isNull() || image.width() < 1 || image.height() < 1) {
            fprintf(stderr, "ui-shot: %s drew nothing\n", argv[1]);
        } else if (!size.isEmpty() && window->size() != size) {
            fprintf(stderr, "ui-shot: %s stays at %dx%d instead of %dx%d\n", argv[1], window->width(), window->height(),
                    size.width(), size.height());
        } else if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
            fprintf(stderr, "ui-shot: cannot write %s\n", argv[2]);
        } else {
            status = g_warnings ? 3 : 0;
        }
        if (window)
            window->close();
        Settle();
        keep.clear();
        Settle();
        // A window nobody else owned goes with the picture; one a keep object owned went with it.
        delete window.data();
    }
    return status;
}
