// The converter window: a window host that takes a list of files through a fixed chain of
// panels in the same window: converter setup, the destination check, the files-already-exist
// dialog when destinations exist, and the progress dialog. Every road into a conversion ends
// here: the open-file dialog, files dropped on the launcher, the command-line entries, the
// batch converter, the concatenation order dialog and the status log's re-convert.
//
// Closing a converter window opens a launcher in its place, unless the window was opened for
// the command line or it shows the launcher itself. Main thread only.
#pragma once

#include "app/KRAPanelHostBase.h"
#include "media/QKFileInfoCache.h"
#include "naming/ui/KRACheckingFilenamesProgress.h"
#include "progress/KRAConversionHost.h"
#include "setup/KRAPreConvertHost.h"

#include "kit/QKAppDelegateMethods.h"
#include "naming/ui/KRAFileAlreadyExistsDialog.h"

#include <QFileDialog>
#include <QPointer>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

class QKConversionSpec;

class KRAPanelHost : public KRAPanelHostBase,
                     public KRAPreConvertHost,
                     public KRAConversionHost,
                     public KRACheckFilenamesHost {
    Q_OBJECT
public:
    // Makes the batch converter panel for a window, with the folders it starts with (none: its
    // own last selection). Registered at start-up by whoever builds the batch converter.
    using BatchConverterFactory = std::function<std::shared_ptr<KRAPanel>(const std::shared_ptr<KRAPanelHost>& host,
                                                                          const std::optional<QList<QUrl>>& selection)>;
    // Shows the configuration window over a window (the ffmpeg page first when asked).
    using ConfigWindowOpener = std::function<void(const std::shared_ptr<KRAPanelHost>& host, bool ffmpegPage)>;

    static constexpr const char* kDefaultTitle = "Marvoni Video Converter";
    // The help's path on the maker's server (MARVONI_WEB_BASE).
    static constexpr const char* kHelpPath = "/Help/qKVOSX/";
    static constexpr const char* kSourceFolderKey = "SourceFolder";

    KRAPanelHost();
    ~KRAPanelHost() override;

    static std::shared_ptr<KRAPanelHost> newWindow();
    // A new window showing a launcher.
    static std::shared_ptr<KRAPanelHost> newLauncher();

    // The program's launcher panel.
    static std::shared_ptr<KRAPanel> newLauncherPanel();
    static void setBatchConverterFactory(BatchConverterFactory factory);
    static bool hasBatchConverter();
    // A batch converter panel for this window; none while no factory is registered.
    std::shared_ptr<KRAPanel> makeBatchConverter(const std::optional<QList<QUrl>>& selection);
    static void setConfigWindowOpener(ConfigWindowOpener opener);

    // ---- Roads into a conversion ----
    // Files only, several at once; the chosen ones go to the converter setup, whose Back
    // returns to the root panel.
    void startOpenFileDialog();
    QFileDialog* openFileDialog() const { return m_openDialog; }
    void startBatchConvertDialog();
    void startBatchConvertDialogWithSelection(const QList<QUrl>& folders);
    void startBatchConvertDialog(const std::shared_ptr<KRAPanel>& dialog);
    // True when the panel may be shown now; false when the permission probe is shown first
    // (it goes on to the panel).
    bool probePermissions(const std::shared_ptr<KRAPanel>& panel);
    // URLs, URL texts and sources (QKConvertSource::toVariant); anything else is dropped.
    void preConvertFrom(const QVariantList& items, const std::shared_ptr<KRAPanel>& invoker);

    std::shared_ptr<KRAPanel> batchConverter() const { return m_batchConverter; }
    std::optional<QString> batchConverterProfile() const;
    bool suppressReturnToLauncher() const { return m_suppressReturnToLauncher; }
    void setSuppressReturnToLauncher(bool suppress) { m_suppressReturnToLauncher = suppress; }

    // ---- KRAPreConvertHost ----
    KRAConfigRef config() override;
    QList<KRAPreConvertEntryRef> conversionEntries() override { return m_conversionEntries; }
    uint64_t numToConvert() override;
    void preConvertDone(const KRAPreConvertSetup& setup) override;
    // "Install missing codecs": the configuration window at its ffmpeg page.
    void showConfigPanel() override { showConfigWindow(true); }
    void showConfigWindow(bool ffmpegPage);
    QKFileInfoCacheRef infoCache() override { return m_infoCache; }

    // ---- KRAConversionHost ----
    void conversionAllDone() override;
    void preConvertFrom(const QList<QKConvertSourceRef>& sources, const std::shared_ptr<KRAPanel>& invoker) override;

    // ---- KRACheckFilenamesHost ----
    void checkFileNamesDone(const KRACheckFilenamesStateRef& state, bool needsDialog,
                            const std::shared_ptr<KRAPanel>& invoker) override;
    void checkFileNamesCancelled(const std::shared_ptr<KRAPanel>& invoker) override;

    // Builds the batch of the checked destinations and shows the progress dialog.
    void beginConversion();
    // The batch beginConversion would run now (tests).
    std::shared_ptr<QKConversionSpec> conversionSpec() const;

    KRACheckFilenamesStateRef checkFilenamesState() const { return m_checkFilenamesState; }
    KRAFileAlreadyExistsDialog* fileAlreadyExistsDialog() const { return m_alreadyExists; }

    // ---- The window ----
    // The maker's help page, else the README installed with the program.
    QUrl defaultHelpURL() override;
    QString windowTitleFromPanel(KRAPanel* panel) override;
    void panelSwitchError(std::exception_ptr error) override;
    void windowWillClose() override;

private:
    std::shared_ptr<KRAPanelHost> self();

    KRAConfigRef m_config;
    QKFileInfoCacheRef m_infoCache;
    QList<KRAPreConvertEntryRef> m_conversionEntries;
    KRACheckFilenamesStateRef m_checkFilenamesState;
    std::shared_ptr<KRACheckingFilenamesProgress> m_checkingFilenamesProgress;
    std::shared_ptr<KRAPanel> m_batchConverter;
    bool m_suppressReturnToLauncher = false;
    QPointer<QFileDialog> m_openDialog;
    QPointer<KRAFileAlreadyExistsDialog> m_alreadyExists;
};
