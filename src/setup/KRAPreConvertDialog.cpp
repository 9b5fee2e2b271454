#include "setup/KRAPreConvertDialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cstdio>

#include "kit/KitHelp.h"
#include "kit/KitKeyEvents.h"
#include "kit/SheetFallback.h"
#include "media/QKExternalFFmpeg.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "setup/KRACodecLogos.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KRAProfileDialogs.h"
#include "setup/KREEncoderPage.h"
#include "setup/QKEncoderMenus.h"

KRAPreConvertHost::~KRAPreConvertHost() = default;

// ---- The live naming context -------------------------------------------------------------------

QString KRADynamicNamingDialogV2_Context_KRAPreConvertDialog::encoder() const
{
    if (!owner)
        return KRADynamicNamingDialogV2_Context::encoder();
    const KRAConfigRef config = owner->config();
    const QKEncoderDescRef encoder = config ? config->activeEncoder() : nullptr;
    return encoder ? encoder->name() : QString();
}

QString KRADynamicNamingDialogV2_Context_KRAPreConvertDialog::encoderSettings() const
{
    return owner ? owner->encoderArgs() : KRADynamicNamingDialogV2_Context::encoderSettings();
}

QString KRADynamicNamingDialogV2_Context_KRAPreConvertDialog::dspEffectsString() const
{
    if (!owner)
        return KRADynamicNamingDialogV2_Context::dspEffectsString();
    const KRAProfileRef profile = owner->activeProfile();
    return profile ? profile->dspString() : QString();
}

// ---- The dialog --------------------------------------------------------------------------------

KRAPreConvertDialog::KRAPreConvertDialog(const std::shared_ptr<KRAPanelHostInterface>& host) : m_host(host)
{
    setTitle(QStringLiteral("Converter Setup"));
}

KRAPreConvertDialog::~KRAPreConvertDialog()
{
    // The page is a view controller with a view inside ours: it goes first, without calling
    // back into a dialog that is going.
    if (m_encoderPage)
        m_encoderPage->detachHost();
    m_encoderPage.reset();
    if (m_fileList)
        m_fileList->detachOwner();
}

KRAPreConvertHost* KRAPreConvertDialog::preConvertHost() const
{
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    return dynamic_cast<KRAPreConvertHost*>(host.get());
}

KRAConfigRef KRAPreConvertDialog::config() const
{
    KRAPreConvertHost* host = preConvertHost();
    return host ? host->config() : nullptr;
}

KRAProfileRef KRAPreConvertDialog::activeProfile() const
{
    const KRAConfigRef config = this->config();
    return config ? config->activeProfile() : nullptr;
}

QUrl KRAPreConvertDialog::panelHelpURL()
{
    // The maker's page when its server is configured; else the window's own help.
    return KitMakerHelpURL(QStringLiteral("/Help/qKVOSX/qKV.htm"));
}

void KRAPreConvertDialog::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);

    auto* top = new QHBoxLayout;
    auto* encoderLabel = new QLabel(QStringLiteral("&Encoder:"), view);
    m_picker = new QComboBox(view);
    m_picker->setObjectName(QStringLiteral("encoderPicker"));
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_picker->setMaxVisibleItems(30);
    encoderLabel->setBuddy(m_picker);
    m_listFiles = new QPushButton(view);
    m_listFiles->setObjectName(QStringLiteral("listFiles"));
    m_listFiles->setToolTip(QStringLiteral("List and rename the files to convert"));
    top->addWidget(encoderLabel);
    top->addWidget(m_picker, 1);
    top->addSpacing(12);
    top->addWidget(m_listFiles);
    layout->addLayout(top);

    auto* settingsBox = new QGroupBox(QStringLiteral("Encoder Settings"), view);
    auto* settingsLayout = new QVBoxLayout(settingsBox);
    auto* scroll = new QScrollArea(settingsBox);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The controls inside take the keyboard, not the area around them.
    scroll->setFocusPolicy(Qt::NoFocus);
    m_codecPageHost = new QWidget;
    m_codecPageHost->setObjectName(QStringLiteral("codecPageHost"));
    auto* pageLayout = new QVBoxLayout(m_codecPageHost);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    scroll->setWidget(m_codecPageHost);
    settingsLayout->addWidget(scroll);
    layout->addWidget(settingsBox, 3);

    auto* effectsBox = new QGroupBox(QStringLiteral("Effects"), view);
    auto* effectsLayout = new QVBoxLayout(effectsBox);
    // Both areas scroll, so that the window fits a short screen with Convert on it.
    auto* effectsScroll = new QScrollArea(effectsBox);
    effectsScroll->setWidgetResizable(true);
    effectsScroll->setFrameShape(QFrame::NoFrame);
    effectsScroll->setFocusPolicy(Qt::NoFocus);
    m_dspListContainer = new QWidget;
    auto* dspLayout = new QVBoxLayout(m_dspListContainer);
    dspLayout->setContentsMargins(0, 0, 0, 0);
    effectsScroll->setWidget(m_dspListContainer);
    effectsLayout->addWidget(effectsScroll);
    m_effectsScroll = effectsScroll;
    layout->addWidget(effectsBox, 2);

    auto* outputRow = new QHBoxLayout;
    auto* outputLabel = new QLabel(QStringLiteral("&Output:"), view);
    m_outputPickerContainer = new QWidget(view);
    auto* outputLayout = new QHBoxLayout(m_outputPickerContainer);
    outputLayout->setContentsMargins(0, 0, 0, 0);
    outputRow->addWidget(outputLabel);
    outputRow->addWidget(m_outputPickerContainer, 1);
    layout->addLayout(outputRow);

    auto* buttons = new QHBoxLayout;
    m_back = new QPushButton(QStringLiteral("&Back"), view);
    m_convert = new QPushButton(QStringLiteral("&Convert"), view);
    m_convert->setDefault(true);
    m_convert->setAutoDefault(true);
    buttons->addWidget(m_back);
    buttons->addStretch(1);
    buttons->addWidget(m_convert);
    layout->addLayout(buttons);

    connect(m_picker, &QComboBox::activated, this, [this] { encoderSelected(); });
    connect(m_listFiles, &QPushButton::clicked, this, &KRAPreConvertDialog::onListRenameFiles);
    connect(m_back, &QPushButton::clicked, this, &KRAPreConvertDialog::onButtonCancel);
    connect(m_convert, &QPushButton::clicked, this, &KRAPreConvertDialog::onButtonGo);
    setView(view);

    oneTimeInit();
    // The effect list and its buttons stay whole; the encoder's page, which has room to spare
    // on most pages, scrolls first when the screen is short.
    if (m_effectsScroll && m_dspListContainer)
        m_effectsScroll->setMinimumHeight(m_dspListContainer->minimumSizeHint().height());
    if (m_locationPicker)
        outputLabel->setBuddy(m_locationPicker->comboBox());
    orderTabs();
}

void KRAPreConvertDialog::orderTabs()
{
    // Reading order: the encoder row, its page, the effects, the output, the buttons. The
    // page and the panes are made after the buttons, and a new page goes to the chain's end.
    if (isViewLoaded())
        KitChainTabs(
            {m_picker, m_listFiles, m_codecPageHost, m_dspListContainer, m_outputPickerContainer, m_back, m_convert});
}

void KRAPreConvertDialog::oneTimeInit()
{
    m_namingContext = std::make_shared<KRADynamicNamingDialogV2_Context_KRAPreConvertDialog>();
    m_namingContext->owner = this;
    if (KRAPreConvertHost* host = preConvertHost()) {
        const QList<KRAPreConvertEntryRef> entries = host->conversionEntries();
        if (!entries.isEmpty() && entries.first()->source2())
            m_namingContext->setExampleURL(entries.first()->source2()->urlPerceived());
    }
    m_namingContext->setAllowSameFolder(encoderAllowSameFolder());
    refreshConvertingNFiles();
    prepareEncoderPicker();
    createEncoderPage();
    createDSPPane();
    createLocationPicker();
}

void KRAPreConvertDialog::refreshConvertingNFiles()
{
    KRAPreConvertHost* host = preConvertHost();
    const uint64_t count = host ? host->numToConvert() : 0;
    if (m_convert)
        m_convert->setEnabled(count != 0);
    if (!m_listFiles)
        return;
    const QList<KRAPreConvertEntryRef> entries = host ? host->conversionEntries() : QList<KRAPreConvertEntryRef>();
    const QKConvertSourceRef sample = entries.isEmpty() ? nullptr : entries.first()->source2();
    QString title;
    if (sample && !sample->specialActionDesc().isEmpty()) {
        const QStringList words = sample->specialActionDesc().split(QLatin1Char(' '));
        QStringList capitalised;
        for (const QString& word : words)
            capitalised.append(word.isEmpty() ? word : word.left(1).toUpper() + word.mid(1).toLower());
        title = capitalised.join(QLatin1Char(' '));
    } else if (count == 0) {
        title = QStringLiteral("No files");
    } else if (count == 1) {
        title = QStringLiteral("1 file");
    } else {
        title = QStringLiteral("%1 files").arg(count);
    }
    m_listFiles->setText(title);
}

// ---- The encoder and profile pop-up ------------------------------------------------------------

void KRAPreConvertDialog::addMenuSeparator()
{
    const int last = m_picker->count() - 1;
    if (last >= 0 && m_picker->itemData(last, Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator"))
        return;
    m_picker->insertSeparator(m_picker->count());
}

void KRAPreConvertDialog::removeMenuSeparator()
{
    while (m_picker->count() > 0 &&
           m_picker->itemData(m_picker->count() - 1, Qt::AccessibleDescriptionRole).toString() ==
               QLatin1String("separator"))
        m_picker->removeItem(m_picker->count() - 1);
}

void KRAPreConvertDialog::prepareEncoderPicker()
{
    m_selecting = true;
    QKEncoderMenus::setupEncoderPicker(m_picker, {});
    if (!QKExternalFFmpeg::haveExternalFFmpeg()) {
        addMenuSeparator();
        m_picker->addItem(installCodecsTitle());
    }
    const KRAConfigRef config = this->config();
    if (config && config->allowUserProfiles()) {
        addMenuSeparator();
        m_picker->addItem(createProfileTitle());
        m_picker->addItem(deleteProfileTitle());
        const QList<KRAProfileRef> users = config->userProfiles();
        if (!users.isEmpty()) {
            addMenuSeparator();
            for (const KRAProfileRef& profile : users)
                m_picker->addItem(profile->profileName);
        }
    }
    fixProfileIcons();
    selectActiveInPicker();
    m_selecting = false;
}

void KRAPreConvertDialog::fixProfileIcons()
{
    const KRAConfigRef config = this->config();
    if (!config)
        return;
    for (int i = 0; i < m_picker->count(); ++i) {
        if (!m_picker->itemIcon(i).isNull())
            continue;
        if (const KRAProfileRef profile = config->profileNamed(m_picker->itemText(i))) {
            const QImage logo = KRACodecLogos::comboBoxLogoOfCodec(profile->encoderName);
            if (!logo.isNull())
                m_picker->setItemIcon(i, QIcon(QPixmap::fromImage(logo)));
        }
    }
}

void KRAPreConvertDialog::selectActiveInPicker()
{
    const KRAConfigRef config = this->config();
    if (!config || !m_picker)
        return;
    const int index = m_picker->findText(config->activeProfileName(), Qt::MatchExactly);
    if (index >= 0)
        m_picker->setCurrentIndex(index);
}

bool KRAPreConvertDialog::chooseItem(const QString& title)
{
    if (!m_picker)
        return false;
    const int index = m_picker->findText(title, Qt::MatchExactly);
    if (index < 0)
        return false;
    m_picker->setCurrentIndex(index);
    encoderSelected();
    return true;
}

void KRAPreConvertDialog::encoderSelected()
{
    if (m_selecting || !m_picker)
        return;
    const QString title = m_picker->currentText();
    const KRAConfigRef config = this->config();
    if (!config)
        return;
    if (title == installCodecsTitle() && !QKExternalFFmpeg::haveExternalFFmpeg()) {
        selectActiveInPicker();
        if (KRAPreConvertHost* host = preConvertHost())
            host->showConfigPanel();
        return;
    }
    if (config->allowUserProfiles()) {
        if (title == createProfileTitle()) {
            handleCreateProfile();
            return;
        }
        if (title == deleteProfileTitle()) {
            handleDeleteProfile();
            return;
        }
    }
    switchToProfile(title);
}

void KRAPreConvertDialog::switchToProfile(const QString& name)
{
    const KRAConfigRef config = this->config();
    if (!config || !config->profileNamed(name)) {
        selectActiveInPicker();
        return;
    }
    encoderPageWillClose();
    if (const KRAProfileRef profile = activeProfile())
        profile->saveProfile();
    if (m_locationPicker)
        m_locationPicker->saveToRecentList();
    config->setActiveProfileName(name);
    createEncoderPage();
    if (m_locationPicker) {
        m_locationPicker->setFileNaming(activeProfile()->fileNaming);
        m_locationPicker->setEncoder(config->activeEncoder());
    }
    updateDSP();
    reloadPreview();
}

void KRAPreConvertDialog::handleCreateProfile()
{
    const KRAConfigRef config = this->config();
    const KRAProfileRef active = activeProfile();
    if (!config || !active)
        return;
    QStringList taken{createProfileTitle(), deleteProfileTitle()};
    for (const QKEncoderDescRef& encoder : QKEncoderDesc::listEncoders())
        taken.append(encoder->name());
    for (const KRAProfileRef& profile : config->userProfiles())
        if (profile->encoderName == active->encoderName)
            taken.append(profile->userProfileName().value_or(QString()));

    auto* sheet = new KRACreateProfile(view()->window());
    sheet->setLstNamesTaken(taken);
    sheet->setStrProfile(QStringLiteral("<type profile name>"));
    sheet->setStrEncoderName(QStringLiteral("'%1'").arg(active->encoderName));
    // Texts the store could not keep apart from another profile are refused in the sheet,
    // where the user can still change them.
    const QString encoderName = active->encoderName;
    sheet->setValidator([config, encoderName](const QString& text) {
        QString why = KRAProfile::userTextProblem(text);
        if (why.isEmpty()) {
            const QString name = KRAProfile::composeUserProfileName(KRAProfile::cleanUserText(text), encoderName);
            for (const KRAProfileRef& profile : config->userProfiles())
                if (KRAProfile::sameStoredName(profile->profileName, name))
                    why = QStringLiteral("Please choose another profile name.");
        }
        return why;
    });
    m_createSheet = sheet;
    QPointer<KRAPreConvertDialog> self(this);
    QPointer<KRACreateProfile> guard(sheet);
    const bool shown = SheetFallback::beginSheet(sheet, view()->window(), [self, guard](int64_t code) {
        if (self)
            self->createProfileEnded(code);
        if (guard)
            guard->deleteLater();
    });
    if (!shown) {
        delete sheet;
        selectActiveInPicker();
    }
}

void KRAPreConvertDialog::createProfileEnded(int64_t code)
{
    const KRAConfigRef config = this->config();
    const QString text = m_createSheet ? m_createSheet->strProfile() : QString();
    if (code != 1 || !config) {
        selectActiveInPicker();
        return;
    }
    const KRAProfileRef active = activeProfile();
    if (active)
        active->saveProfile();
    QString problem;
    const KRAProfileRef created =
        active ? config->newUserProfile(text, active->encoderName, &problem) : KRAProfileRef();
    if (!created) {
        selectActiveInPicker();
        encoderSelected();
        if (!problem.isEmpty())
            showAlert(problem);
        return;
    }
    if (config->userProfiles().size() == 1)
        addMenuSeparator();
    config->setActiveProfile(created);
    m_selecting = true;
    m_picker->addItem(created->profileName);
    fixProfileIcons();
    m_picker->setCurrentIndex(m_picker->count() - 1);
    m_selecting = false;
    encoderSelected();
}

void KRAPreConvertDialog::handleDeleteProfile()
{
    const KRAProfileRef active = activeProfile();
    if (!active || !active->isUserProfile()) {
        selectActiveInPicker();
        return;
    }
    auto* ask = new QMessageBox(QMessageBox::Question, QStringLiteral("Delete Profile"),
                                QStringLiteral("Delete profile '%1' ?").arg(active->profileName), QMessageBox::NoButton,
                                view()->window());
    ask->addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = ask->addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    ask->setDefaultButton(no);
    ask->setEscapeButton(no);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setWindowModality(Qt::WindowModal);
    m_alert = ask;
    QPointer<KRAPreConvertDialog> self(this);
    connect(ask, &QMessageBox::buttonClicked, this, [self, ask, no, active](QAbstractButton* button) {
        if (!self)
            return;
        const KRAConfigRef config = self->config();
        if (button == no || !config) {
            self->selectActiveInPicker();
            return;
        }
        config->deleteProfile(active);
        self->m_selecting = true;
        const int index = self->m_picker->findText(active->profileName, Qt::MatchExactly);
        if (index >= 0)
            self->m_picker->removeItem(index);
        if (config->userProfiles().isEmpty())
            self->removeMenuSeparator();
        self->m_selecting = false;
        // The deleted profile is gone from the store: nothing of it may be saved again.
        self->m_encoderPage.reset();
        config->setActiveProfileName(KRAProfile::defaultProfileName());
        self->selectActiveInPicker();
        self->createEncoderPage();
        if (self->m_locationPicker) {
            self->m_locationPicker->setFileNaming(self->activeProfile()->fileNaming);
            self->m_locationPicker->setEncoder(config->activeEncoder());
        }
        self->updateDSP();
        self->reloadPreview();
    });
    ask->open();
}

// ---- The parts ---------------------------------------------------------------------------------

void KRAPreConvertDialog::createEncoderPage()
{
    if (m_encoderPage)
        m_encoderPage->detachHost();
    m_encoderPage.reset();
    const KRAProfileRef profile = activeProfile();
    if (!profile || !m_codecPageHost)
        return;
    m_encoderPage = KRAEncoderPageIndex::createFor(profile->encoderName, this);
    if (m_encoderPage)
        m_codecPageHost->layout()->addWidget(m_encoderPage->view());
    if (m_back)
        orderTabs();
}

void KRAPreConvertDialog::createDSPPane()
{
    m_dspList = new KRADSPListPane(this);
    m_dspList->setNamingDialogContext(m_namingContext);
    connect(m_dspList, &KRADSPListPane::chainChanged, this, &KRAPreConvertDialog::onDSPChanged);
    m_dspListContainer->layout()->addWidget(m_dspList->view());
    updateDSP();
}

void KRAPreConvertDialog::updateDSP()
{
    const KRAProfileRef profile = activeProfile();
    if (!m_dspList || !profile)
        return;
    m_dspList->setDspEffects(std::make_shared<QKDSPChain>(profile->dspEffects));
    m_dspList->onHostEncoder(config()->activeEncoder());
}

void KRAPreConvertDialog::createLocationPicker()
{
    const KRAProfileRef profile = activeProfile();
    m_locationPicker = new KRAOutputLocationPickerV2(this);
    m_locationPicker->setNamingDialogContext(m_namingContext);
    m_outputPickerContainer->layout()->addWidget(m_locationPicker->view());
    if (profile)
        m_locationPicker->setFileNaming(profile->fileNaming);
    m_locationPicker->setEncoder(config() ? config()->activeEncoder() : nullptr);
    QPointer<KRAPreConvertDialog> self(this);
    m_locationPicker->setChangeHandler([self] {
        if (self)
            self->resetDestinationFiles();
    });
}

// ---- The page's host ---------------------------------------------------------------------------

QString KRAPreConvertDialog::encoderArgs() const
{
    const KRAProfileRef profile = activeProfile();
    return profile ? profile->encoderArgsV2.strArgs : QString();
}

void KRAPreConvertDialog::setEncoderArgs(const QString& args)
{
    encoderArgsV2().strArgs = args;
    encoderArgsChanged();
}

QKEncoderArgs& KRAPreConvertDialog::encoderArgsV2()
{
    const KRAProfileRef profile = activeProfile();
    if (profile)
        return profile->encoderArgsV2;
    m_emptyArgs = QKEncoderArgs();
    return m_emptyArgs;
}

QWidget* KRAPreConvertDialog::pageHostWindow() const
{
    return isViewLoaded() ? const_cast<KRAPreConvertDialog*>(this)->view()->window() : nullptr;
}

void KRAPreConvertDialog::encoderArgsChanged()
{
    reloadPreview();
    const KRAProfileRef profile = activeProfile();
    if (!profile)
        return;
    profile->onEncoderChanged();
    if (profile->fileNaming && profile->fileNaming->usesEncoderInfo())
        resetDestinationFiles();
}

// ---- Actions -----------------------------------------------------------------------------------

void KRAPreConvertDialog::onDSPChanged()
{
    resetDestinationFiles();
    if (const KRAProfileRef profile = activeProfile()) {
        if (m_dspList && m_dspList->dspEffects())
            profile->dspEffects = *m_dspList->dspEffects();
        profile->onDSPChanged();
    }
    reloadPreview();
}

void KRAPreConvertDialog::resetDestinationFiles()
{
    if (!m_possibleUserPaths)
        return;
    if (KRAPreConvertHost* host = preConvertHost())
        for (const KRAPreConvertEntryRef& entry : host->conversionEntries())
            entry->destinationUser.reset();
    m_possibleUserPaths = false;
}

void KRAPreConvertDialog::fileListDialogApply()
{
    m_possibleUserPaths = true;
    refreshConvertingNFiles();
}

void KRAPreConvertDialog::onSubDialogClose()
{
    if (const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock())
        host->setCurrentPanel(shared_from_this());
    m_fileList.reset();
}

bool KRAPreConvertDialog::encoderPageValidate()
{
    return m_encoderPage ? m_encoderPage->pageValidate() : true;
}

void KRAPreConvertDialog::encoderPageWillClose()
{
    if (m_encoderPage)
        m_encoderPage->pageWillClose();
}

void KRAPreConvertDialog::showAlert(const QString& text)
{
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Converter Setup"), text, QMessageBox::Ok,
                                  isViewLoaded() ? view()->window() : nullptr);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    m_alert = alert;
    alert->open();
}

void KRAPreConvertDialog::onButtonGo()
{
    if (isViewLoaded())
        if (QWidget* focus = view()->window()->focusWidget())
            focus->clearFocus();
    if (!encoderPageValidate())
        return;
    encoderPageWillClose();
    const KRAProfileRef profile = activeProfile();
    const KRAConfigRef config = this->config();
    KRAPreConvertHost* host = preConvertHost();
    if (!profile || !config || !host)
        return;
    // The conversion runs on the settings in hand: a store that cannot be written (start-up
    // has said why) only means they are not remembered for the next time.
    if (!profile->saveProfile())
        std::fprintf(stderr, "marvoni-video: the converter settings could not be saved: the settings file cannot be "
                             "written; the conversion runs with them unsaved\n");
    if (m_locationPicker)
        m_locationPicker->saveToRecentList();
    const QKEncoderDescRef encoder = config->activeEncoder();
    if (!encoder) {
        showAlert(QStringLiteral("The encoder '%1' is not available.").arg(profile->encoderName));
        return;
    }
    const KRAFileNamingRef naming = profile->fileNaming;
    if (encoder->outputsFiles && naming && naming->fileNamingType() != FileNamingSourceFolder &&
        !naming->isSameFolder()) {
        const KRALocationDescriptorRef destination = naming->destination();
        // A destination without a folder (a relative or empty path read from the store) is as
        // unreachable as a missing share.
        if (!destination || !destination->resolveAndMount() || destination->path().IsEmpty()) {
            const QString name = destination ? destination->friendlyName() : QString();
            showAlert(QStringLiteral("Could not access destination folder:\n%1\nIf it is a network share, please make "
                                     "sure it is accessible.")
                          .arg(name));
            return;
        }
    }
    KRAPreConvertSetup setup;
    setup.profile = profile;
    setup.encoder = encoder;
    for (const KRAPreConvertEntryRef& entry : host->conversionEntries())
        if (entry->checked)
            setup.entries.append(entry);
    host->preConvertDone(setup);
}

void KRAPreConvertDialog::onButtonCancel()
{
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    if (!host)
        return;
    if (const std::shared_ptr<KRAPanel> invoker = m_invoker.lock())
        host->setCurrentPanel(invoker);
    else
        host->setCurrentPanel(nullptr);
}

void KRAPreConvertDialog::cancelOperation(QObject* sender)
{
    (void)sender;
    onButtonCancel();
}

void KRAPreConvertDialog::onListRenameFiles()
{
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    if (!host || !preConvertHost())
        return;
    m_fileList = std::make_shared<KRAFileListDialog>(this);
    m_fileList->refreshDialog();
    host->showSubPanel(m_fileList, shared_from_this());
}

QList<KRAFileListItem> KRAPreConvertDialog::fileListItems() const
{
    QList<KRAFileListItem> items;
    if (KRAPreConvertHost* host = preConvertHost())
        for (const KRAPreConvertEntryRef& entry : host->conversionEntries()) {
            KRAFileListItem item;
            item.checked = entry->checked;
            item.destinationUser = entry->destinationUser;
            item.url = entry->namingURL();
            if (entry->source2())
                item.specialActionDesc = entry->source2()->specialActionDesc();
            items.append(item);
        }
    return items;
}

KRAFileNamingRef KRAPreConvertDialog::fileListNaming() const
{
    const KRAProfileRef profile = activeProfile();
    return profile ? profile->fileNaming : nullptr;
}

QKEncoderDescRef KRAPreConvertDialog::fileListEncoder() const
{
    const KRAConfigRef config = this->config();
    return config ? config->activeEncoder() : nullptr;
}

QKFileInfoCacheRef KRAPreConvertDialog::fileListInfoCache() const
{
    KRAPreConvertHost* host = preConvertHost();
    return host ? host->infoCache() : nullptr;
}

void KRAPreConvertDialog::fileListApply(const QMap<int, KRAFileListEdit>& edits)
{
    KRAPreConvertHost* host = preConvertHost();
    if (!host)
        return;
    const QList<KRAPreConvertEntryRef> entries = host->conversionEntries();
    const QKEncoderDescRef encoder = fileListEncoder();
    for (auto it = edits.constBegin(); it != edits.constEnd(); ++it) {
        if (it.key() < 0 || it.key() >= entries.size())
            continue;
        entries[it.key()]->checked = it->checked;
        if (encoder && encoder->outputsFiles)
            entries[it.key()]->destinationUser = it->destinationUser;
    }
    fileListDialogApply();
}

void KRAPreConvertDialog::panelWillClose()
{
    encoderPageWillClose();
    if (const KRAProfileRef profile = activeProfile())
        profile->saveProfile();
    if (m_locationPicker)
        m_locationPicker->saveToRecentList();
}

KRACreateProfile* KRAPreConvertDialog::createProfileSheet() const
{
    return m_createSheet;
}

QMessageBox* KRAPreConvertDialog::openAlert() const
{
    return m_alert;
}
