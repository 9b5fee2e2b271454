#include "app/KRAPanelHost.h"

#include "app/KRAErrorHandler.h"
#include "app/KRELauncher.h"
#include "app/QKProbePermissionsView.h"
#include "batch/QKMediaFormatFilter.h"
#include "engine/KRAMultiEncConfig.h"
#include "job/QKConversionSpec.h"
#include "kit/KitHelp.h"
#include "kit/SheetFallback.h"
#include "naming/ui/KRAFileAlreadyExistsDialog.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "progress/KRAProgressDialog.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAPreConvertDialog.h"
#include "setup/KRAProfile.h"

#include <QCoreApplication>
#include <QEventLoopLocker>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

namespace {

KRAPanelHost::BatchConverterFactory& BatchConverters()
{
    static KRAPanelHost::BatchConverterFactory factory;
    return factory;
}

KRAPanelHost::ConfigWindowOpener& ConfigWindows()
{
    static KRAPanelHost::ConfigWindowOpener opener;
    return opener;
}

void ShowNotice(QWidget* parent, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromLatin1(KRAPanelHost::kDefaultTitle), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

// The name filter of the open-file dialog: every extension the converter reads, in both
// letter cases. Only a damaged format list (no extensions at all) leaves every file on offer,
// rather than none.
QStringList OpenDialogNameFilters()
{
    QStringList patterns;
    for (const QString& extension : QKMediaFormatFilter().extensions()) {
        if (extension.size() < 2 || !extension.startsWith(QLatin1Char('.')))
            continue;
        patterns << QLatin1Char('*') + extension.toLower() << QLatin1Char('*') + extension.toUpper();
    }
    patterns.removeDuplicates();
    if (patterns.isEmpty())
        return {QStringLiteral("All files (*)")};
    return {QStringLiteral("Media files (%1)").arg(patterns.join(QLatin1Char(' ')))};
}

} // namespace

KRAPanelHost::KRAPanelHost() = default;

KRAPanelHost::~KRAPanelHost()
{
    if (m_infoCache)
        m_infoCache->shutdown();
    if (m_alreadyExists)
        m_alreadyExists->deleteLater();
}

std::shared_ptr<KRAPanelHost> KRAPanelHost::newWindow()
{
    auto host = std::make_shared<KRAPanelHost>();
    host->window();
    return host;
}

std::shared_ptr<KRAPanel> KRAPanelHost::newLauncherPanel()
{
    return std::make_shared<KRELauncher>();
}

std::shared_ptr<KRAPanelHost> KRAPanelHost::newLauncher()
{
    auto host = newWindow();
    host->setCurrentPanel(newLauncherPanel());
    return host;
}

void KRAPanelHost::setBatchConverterFactory(BatchConverterFactory factory)
{
    BatchConverters() = std::move(factory);
}

bool KRAPanelHost::hasBatchConverter()
{
    return static_cast<bool>(BatchConverters());
}

// "Install missing effects" in a setup's effect list goes where "Install missing codecs" goes:
// the ffmpeg page, in the window the list is in.
static void InstallMissingEffects(QWidget* parent)
{
    QWidget* top = parent ? parent->window() : nullptr;
    for (const std::shared_ptr<KRAPanelHostBase>& host : KRAPanelHostBase::allInstances()) {
        auto converter = std::dynamic_pointer_cast<KRAPanelHost>(host);
        if (converter && converter->window() == top) {
            converter->showConfigWindow(true);
            return;
        }
    }
    if (const KRAPanelHost::ConfigWindowOpener& open = ConfigWindows())
        open(nullptr, true);
}

void KRAPanelHost::setConfigWindowOpener(ConfigWindowOpener opener)
{
    KRADSPListPane::setInstallFFmpegHandler(opener ? InstallMissingEffects : std::function<void(QWidget*)>());
    ConfigWindows() = std::move(opener);
}

std::shared_ptr<KRAPanelHost> KRAPanelHost::self()
{
    return std::static_pointer_cast<KRAPanelHost>(shared_from_this());
}

// ---- Roads into a conversion ----

void KRAPanelHost::startOpenFileDialog()
{
    if (m_openDialog) {
        m_openDialog->raise();
        return;
    }
    auto* dialog = new QFileDialog(window(), QStringLiteral("Choose Files to Convert"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(OpenDialogNameFilters());
    const QVariant folder = QSettings().value(QString::fromLatin1(kSourceFolderKey));
    if (folder.typeId() == QMetaType::QString && !folder.toString().isEmpty())
        dialog->setDirectory(folder.toString());
    m_openDialog = dialog;
    std::weak_ptr<KRAPanelHostBase> weak = weak_from_this();
    connect(dialog, &QFileDialog::accepted, this, [weak, dialog] {
        auto host = std::static_pointer_cast<KRAPanelHost>(weak.lock());
        if (!host)
            return;
        QSettings settings;
        settings.setValue(QString::fromLatin1(kSourceFolderKey), dialog->directory().absolutePath());
        settings.sync();
        QVariantList urls;
        for (const QString& file : dialog->selectedFiles())
            urls << XFileURL(XResolveDisplayPath(file));
        host->preConvertFrom(urls, host->rootPanel());
    });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

std::shared_ptr<KRAPanel> KRAPanelHost::makeBatchConverter(const std::optional<QList<QUrl>>& selection)
{
    if (!BatchConverters())
        return nullptr;
    return BatchConverters()(self(), selection);
}

void KRAPanelHost::startBatchConvertDialog()
{
    startBatchConvertDialog(makeBatchConverter(std::nullopt));
}

void KRAPanelHost::startBatchConvertDialogWithSelection(const QList<QUrl>& folders)
{
    startBatchConvertDialog(makeBatchConverter(folders));
}

void KRAPanelHost::startBatchConvertDialog(const std::shared_ptr<KRAPanel>& dialog)
{
    if (!dialog) {
        ShowNotice(window(), QStringLiteral("The batch converter is not available yet."));
        return;
    }
    m_batchConverter = dialog;
    if (dialog && probePermissions(dialog))
        setCurrentPanel(dialog);
}

bool KRAPanelHost::probePermissions(const std::shared_ptr<KRAPanel>& panel)
{
    if (!QKProbePermissionsView::probeIfNeeded())
        return true;
    auto probe = std::make_shared<QKProbePermissionsView>();
    probe->setPanelContinueTo(panel);
    setCurrentPanel(probe);
    return false;
}

void KRAPanelHost::preConvertFrom(const QVariantList& items, const std::shared_ptr<KRAPanel>& invoker)
{
    preConvertFrom(QKConvertSource::transformURLs(items), invoker);
}

void KRAPanelHost::preConvertFrom(const QList<QKConvertSourceRef>& sources, const std::shared_ptr<KRAPanel>& invoker)
{
    QList<QUrl> urls;
    for (const QKConvertSourceRef& source : sources)
        if (source)
            urls << source->urlPerceived();
    if (m_infoCache)
        m_infoCache->shutdown();
    m_infoCache = QKFileInfoCache::create(urls, true);
    m_config = std::make_shared<KRAConfig>(batchConverterProfile());
    m_conversionEntries.clear();
    for (const QKConvertSourceRef& source : sources)
        if (source)
            m_conversionEntries << std::make_shared<KRAPreConvertEntry>(source);
    auto setup = std::make_shared<KRAPreConvertDialog>(shared_from_this());
    setup->setInvokerPanel(invoker);
    // Back returns to the invoker as it was (the status log a re-convert came from).
    showSubPanel(setup, invoker);
}

std::optional<QString> KRAPanelHost::batchConverterProfile() const
{
    if (auto* source = dynamic_cast<QKBatchConverterProfileSource*>(m_batchConverter.get()))
        return source->currentProfileName();
    return std::nullopt;
}

// ---- The converter setup's side ----

KRAConfigRef KRAPanelHost::config()
{
    if (!m_config)
        m_config = std::make_shared<KRAConfig>();
    return m_config;
}

uint64_t KRAPanelHost::numToConvert()
{
    uint64_t count = 0;
    for (const KRAPreConvertEntryRef& entry : m_conversionEntries)
        count += entry->checked ? 1 : 0;
    return count;
}

void KRAPanelHost::showConfigWindow(bool ffmpegPage)
{
    if (const ConfigWindowOpener& opener = ConfigWindows())
        opener(self(), ffmpegPage);
    else
        ShowNotice(window(), QStringLiteral("The configuration window is not available yet."));
}

void KRAPanelHost::preConvertDone(const KRAPreConvertSetup& setup)
{
    const std::shared_ptr<KRAPanel> setupPanel = currentPanel();
    const KRAProfileRef profile = setup.profile;
    const QKEncoderDescRef encoder = setup.encoder;
    if (!profile || !encoder)
        return;

    // The encoders that will run: the multi-encoder's set, else the profile's one encoder.
    QList<KRACheckEncoderItem> encoders;
    if (encoder->isMultiEncoder()) {
        if (const KRAMultiEncConfigRef multi = KRAMultiEncConfig::fromArgs(profile->encoderArgsV2))
            for (const KRAMultiEncEntryRef& entry : multi->entries) {
                if (!entry->encoder)
                    continue;
                encoders.append({entry->encoder, entry->encoderArgsV2, entry->fileNaming, entry});
            }
    } else {
        encoders.append({encoder, profile->encoderArgsV2, profile->fileNaming, nullptr});
    }

    // The information read so far saves the check a probe of each file.
    QList<KRACheckSourceItem> sources;
    for (int64_t i = 0; i < m_conversionEntries.size(); ++i) {
        const KRAPreConvertEntryRef& entry = m_conversionEntries[i];
        KRACheckSourceItem item;
        item.checked = entry->checked;
        item.namingURL = entry->namingURL();
        item.destinationUser = entry->destinationUser;
        if (m_infoCache)
            if (const QKFileInfoCache::Result* result = m_infoCache->infoForIndex(i))
                item.info = result->info;
        item.source = entry->source2();
        sources.append(item);
    }

    m_checkFilenamesState = std::make_shared<KRACheckFilenamesState>();
    m_checkingFilenamesProgress = std::make_shared<KRACheckingFilenamesProgress>(sources, encoders, setupPanel);
    // The setup lives on behind the check: Cancel, and a cancelled files-already-exist
    // dialog, go back to it.
    showSubPanel(m_checkingFilenamesProgress, setupPanel);
}

void KRAPanelHost::checkFileNamesDone(const KRACheckFilenamesStateRef& state, bool needsDialog,
                                      const std::shared_ptr<KRAPanel>& invoker)
{
    m_checkFilenamesState = state;
    if (!needsDialog) {
        beginConversion();
        return;
    }
    // Until the user answers, the window shows the panel the check started from.
    if (invoker)
        setCurrentPanel(invoker);
    auto* dialog = new KRAFileAlreadyExistsDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setState(state);
    m_alreadyExists = dialog;
    std::weak_ptr<KRAPanelHostBase> weak = weak_from_this();
    std::weak_ptr<KRAPanel> weakInvoker = invoker;
    const bool shown = SheetFallback::beginSheet(dialog, window(), [weak, weakInvoker](int64_t code) {
        auto host = std::static_pointer_cast<KRAPanelHost>(weak.lock());
        if (!host)
            return;
        if (code == 1)
            host->beginConversion();
        else
            host->checkFileNamesCancelled(weakInvoker.lock());
    });
    if (!shown)
        delete dialog;
}

void KRAPanelHost::checkFileNamesCancelled(const std::shared_ptr<KRAPanel>& invoker)
{
    // Never left on the finished check with nowhere to go.
    if (invoker)
        setCurrentPanel(invoker);
    else
        returnToRootOrClose();
}

std::shared_ptr<QKConversionSpec> KRAPanelHost::conversionSpec() const
{
    const KRAConfigRef config = m_config ? m_config : std::make_shared<KRAConfig>();
    const KRAProfileRef profile = config->activeProfile();
    if (!profile)
        return nullptr;
    auto spec = std::make_shared<QKConversionSpec>();
    spec->dspEffects = profile->dspEffects;
    if (m_checkFilenamesState)
        for (const KRACheckFileNamesEntryRef& entry : m_checkFilenamesState->entries) {
            if (!entry->checked)
                continue;
            auto conversion = std::make_shared<QKConversionEntry>();
            conversion->convertFrom = std::static_pointer_cast<QKConvertSource>(entry->source2);
            conversion->urlTo = entry->destination;
            conversion->justCopy = entry->justCopy;
            conversion->sourceSizeBytes = entry->sourceSizeBytes;
            conversion->multiEncData = std::static_pointer_cast<KRAMultiEncEntry>(entry->multiEncData);
            spec->entries.append(conversion);
        }
    spec->Encoder = config->encoderForProfile(profile);
    spec->EncoderArgsV2 = profile->encoderArgsV2;
    return spec;
}

void KRAPanelHost::beginConversion()
{
    const std::shared_ptr<QKConversionSpec> spec = conversionSpec();
    if (!spec)
        return;
    setCurrentPanel(KRAProgressDialog::createWithSpec(spec, shared_from_this()));
}

void KRAPanelHost::conversionAllDone()
{
    returnToRootOrClose();
}

// ---- The window ----

QUrl KRAPanelHost::defaultHelpURL()
{
    return KitHelpURL(QString::fromLatin1(kHelpPath));
}

QString KRAPanelHost::windowTitleFromPanel(KRAPanel* panel)
{
    const QString title = panel ? panel->panelName() : QString();
    const QString defaultTitle = QString::fromLatin1(kDefaultTitle);
    if (title.contains(QLatin1String("Marvoni")))
        return title;
    if (!title.isEmpty())
        return QStringLiteral("%1 - %2").arg(defaultTitle, title);
    return defaultTitle;
}

void KRAPanelHost::panelSwitchError(std::exception_ptr error)
{
    KRAErrorHandler::handleException(error);
}

void KRAPanelHost::windowWillClose()
{
    KRAPanelHostBase::windowWillClose();
    if (m_suppressReturnToLauncher || isCurrentPanelLauncher())
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Holding the event loop keeps the program from quitting in the moment between this
    // window closing and the launcher showing.
    auto keepRunning = std::make_shared<QEventLoopLocker>();
    QMetaObject::invokeMethod(
        app,
        [keepRunning]() mutable {
            KRAPanelHost::newLauncher();
            keepRunning.reset();
        },
        Qt::QueuedConnection);
}
