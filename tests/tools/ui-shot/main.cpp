// ui-shot: renders one of the program's windows offscreen, with sample content, to a PNG, so
// that a reviewer can look at it without a display.
//
//   ui-shot --list
//   ui-shot NAME OUT.png [--size WxH]
//
// Exit status 0 when the picture was written and Qt printed no warning while the window was
// built and drawn; 3 when it was written but Qt warned (the warnings go to standard error);
// 1 on any other failure; 2 for wrong arguments.

#include "tools/ui-shot/UiShot.h"

#include "xclass/XExitCleanup.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

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
    if (type != QtDebugMsg && type != QtInfoMsg)
        ++g_warnings;
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int Usage()
{
    fprintf(stderr, "usage: ui-shot --list | ui-shot NAME OUT.png [--size WxH]\n");
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
    if (argc != 3 && argc != 5)
        return Usage();
    QSize size;
    if (argc == 5 && (strcmp(argv[3], "--size") != 0 || !ParseSize(argv[4], &size)))
        return Usage();

    const QString name = QString::fromLocal8Bit(argv[1]);
    const auto found =
        std::find_if(Registry().begin(), Registry().end(), [&](const UiShot& shot) { return shot.name == name; });
    if (found == Registry().end()) {
        fprintf(stderr, "ui-shot: no window named \"%s\" (ui-shot --list names them)\n", argv[1]);
        return 1;
    }

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Windows remember sizes and columns in the settings: a picture must not change the user's.
    QStandardPaths::setTestModeEnabled(true);
    qInstallMessageHandler(MessageHandler);
    QApplication app(argc, argv);

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
        if (!size.isEmpty())
            window->resize(size);
        Settle();
        const QImage image = window->grab().toImage();
        if (image.isNull() || image.width() < 1 || image.height() < 1) {
            fprintf(stderr, "ui-shot: %s drew nothing\n", argv[1]);
        } else if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
            fprintf(stderr, "ui-shot: cannot write %s\n", argv[2]);
        } else {
            status = g_warnings ? 3 : 0;
        }
        window->close();
        Settle();
        keep.clear();
        Settle();
        // A window nobody else owned goes with the picture; one a keep object owned went with it.
        delete window.data();
    }
    return status;
}
