// The application's one place for handing files to a converter window. The batch converter,
// its file list and the concatenation order dialog sit below the application shell, so they
// reach the converter window through this interface, which the shell fills in at start-up.
//
// Only the first two operations are the program's; the others stand for commands of the
// converter family that this program does not have: callers ask the can-methods first and
// offer the command only when the answer is true.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class KRAPanel;
class KRAPanelHostInterface;

class QKAppDelegateMethods {
public:
    virtual ~QKAppDelegateMethods();

    // Opens the converter setup for the files in the window, when it is a converter window;
    // Back returns to the panel. Any other window: nothing.
    virtual void preConvertFrom(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>& window,
                                const std::shared_ptr<KRAPanel>& returnToPanel) = 0;
    // Shows the concatenation order dialog for the files in the window; Back returns to the
    // panel.
    virtual void beginConcatenate(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>& window,
                                  const std::shared_ptr<KRAPanel>& returnToPanel) = 0;

    virtual bool canEditTags() const { return false; }
    virtual void editTagsOn(const QList<QUrl>& files) { (void)files; }
    virtual void editTagsOnFolders(const QList<QUrl>& folders) { (void)folders; }
    virtual bool canPreview() const { return false; }
    virtual void beginPreview(const QUrl& file, double atSeconds)
    {
        (void)file;
        (void)atSeconds;
    }

    // The application's delegate; null until the shell has set it (and in tests that do not).
    static QKAppDelegateMethods* shared();
    static void setShared(QKAppDelegateMethods* delegate);
};

// What the converter window asks of the batch converter panel it shows: the batch profile
// whose converter settings conversions from it use.
class QKBatchConverterProfileSource {
public:
    virtual ~QKBatchConverterProfileSource();
    // None: the settings that belong to no batch profile.
    virtual std::optional<QString> currentProfileName() const = 0;
};
