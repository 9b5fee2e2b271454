// The application's delegate: opens the first window, serves the two command-line entries
// (convert files, convert folders: what the desktop's "Open With" runs through the program's
// hidden .desktop entries), and is the one place the batch converter and the concatenation
// order dialog hand files to a converter window.
#pragma once

#include "kit/QKAppDelegateMethods.h"
#include "xclass/XStr.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

class KRAPanelHost;

class KREAppDelegate : public QKAppDelegateMethods {
public:
    // What the program was started for.
    struct CommandLine {
        enum class Kind { Launcher, ConvertFiles, ConvertFolders, Help, Wrong };
        Kind kind = Kind::Launcher;
        std::vector<XStr> paths; // as given, bytes kept (names need not be UTF-8)
        QString error;           // Wrong: what was wrong
    };
    // The arguments after the program's name, as they came (Qt's own already taken out).
    static CommandLine parseCommandLine(int argc, char** argv);
    static QString usage(const char* program);

    KREAppDelegate();
    ~KREAppDelegate() override;

    // Becomes the application's delegate.
    void applicationDidFinishLaunching();
    // The first window: a launcher. Always true.
    bool applicationOpenUntitledFile();
    std::shared_ptr<KRAPanelHost> onNewWindow();
    // The first window for the command line.
    std::shared_ptr<KRAPanelHost> start(const CommandLine& commandLine);

    // The two entries: a new window (which opens no launcher when it closes) with the
    // converter setup for the files, or the batch converter with the folders selected. Paths
    // that do not exist or cannot be read are left out and named in one message over that
    // window; the others go on.
    std::shared_ptr<KRAPanelHost> convertFiles(const std::vector<XStr>& paths);
    std::shared_ptr<KRAPanelHost> convertFolders(const std::vector<XStr>& paths);

    // The last message about left-out paths (tests).
    QString lastReport() const { return m_lastReport; }

    // ---- QKAppDelegateMethods ----
    void preConvertFrom(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>& window,
                        const std::shared_ptr<KRAPanel>& returnToPanel) override;
    void beginConcatenate(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>& window,
                          const std::shared_ptr<KRAPanel>& returnToPanel) override;

private:
    QList<QUrl> usablePaths(const std::vector<XStr>& paths, bool folders, QStringList* leftOut);
    void report(const std::shared_ptr<KRAPanelHost>& host, const QStringList& leftOut, bool folders);

    QString m_lastReport;
};
