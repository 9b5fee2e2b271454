#include "setup/KRAEncoderPageMultiEnc.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScrollArea>
#include <QVBoxLayout>

#include "job/QKConversionSpec.h"
#include "kit/SheetFallback.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "setup/KRACodecLogos.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAEncoderPageIndex.h"

// ---- One row -----------------------------------------------------------------------------------

KRAMultiEncEntryView::KRAMultiEncEntryView(KRAEncoderPageMultiEnc* owner, const KRAMultiEncEntryRef& entry,
                                           QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    const QString name = entry && entry->encoder ? entry->encoder->name() : QString();
    auto* logo = new QLabel(this);
    const QImage image = KRACodecLogos::squareLogoOfCodec(name);
    if (!image.isNull())
        logo->setPixmap(QPixmap::fromImage(image.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    logo->setFixedSize(32, 32);
    auto* label = new QLabel(name, this);
    m_settings = new QPushButton(QStringLiteral("Settings\u2026"), this);
    m_settings->setAccessibleName(QStringLiteral("Settings of %1").arg(name));
    m_remove = new QPushButton(QStringLiteral("Remove"), this);
    m_remove->setAccessibleName(QStringLiteral("Remove %1").arg(name));
    layout->addWidget(logo);
    layout->addWidget(label, 1);
    layout->addWidget(m_settings);
    layout->addWidget(m_remove);
    QPointer<KRAEncoderPageMultiEnc> page(owner);
    connect(m_settings, &QPushButton::clicked, this, [this, page] {
        if (page)
            page->onEncoderSettings(page->rowOfView(this));
    });
    connect(m_remove, &QPushButton::clicked, this, [this, page] {
        if (page)
            page->onEncoderRemove(page->rowOfView(this));
    });
}

// ---- The page ----------------------------------------------------------------------------------

KRAEncoderPageMultiEnc::KRAEncoderPageMultiEnc(KRAEncoderPageHost* host, QObject* parent) : KREEncoderPage(host, parent)
{
}

KRAEncoderPageMultiEnc::~KRAEncoderPageMultiEnc()
{
    if (m_dialog)
        m_dialog->deleteLater();
}

void KRAEncoderPageMultiEnc::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* heading = new QLabel(QStringLiteral("Every file is converted with each of these encoders:"), view);
    layout->addWidget(heading);
    auto* scroll = new QScrollArea(view);
    scroll->setWidgetResizable(true);
    m_rowsWidget = new QWidget;
    m_rows = new QVBoxLayout(m_rowsWidget);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    m_rows->addStretch(1);
    scroll->setWidget(m_rowsWidget);
    layout->addWidget(scroll, 1);

    auto* footer = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("&Add Encoder\u2026"), view);
    footer->addWidget(m_add);
    footer->addStretch(1);
    m_multiCPU = new QCheckBox(QStringLiteral("Run the encoders at the same time"), view);
    m_multiCPU->hide();
    footer->addWidget(m_multiCPU);
    layout->addLayout(footer);
    connect(m_add, &QPushButton::clicked, this, &KRAEncoderPageMultiEnc::onAddEncoder);
    setView(view);
    grabArgs();
}

void KRAEncoderPageMultiEnc::grabArgs()
{
    m_config = KRAMultiEncConfig::fromString(host() ? host()->encoderArgs() : QString());
    m_encoders = m_config->entries;
    // The switch is not shown: it keeps what was stored, so that the flag is written back
    // unchanged.
    m_multiCPU->setChecked(m_config->multiCPU);
    reloadRows();
}

void KRAEncoderPageMultiEnc::reloadRows()
{
    if (!m_rows)
        return;
    while (m_rows->count() > 1) {
        QLayoutItem* item = m_rows->takeAt(0);
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    for (int i = 0; i < m_encoders.size(); ++i)
        m_rows->insertWidget(i, new KRAMultiEncEntryView(this, m_encoders[i], m_rowsWidget));
}

QList<KRAMultiEncEntryView*> KRAEncoderPageMultiEnc::rowViews() const
{
    QList<KRAMultiEncEntryView*> views;
    if (m_rows)
        for (int i = 0; i < m_rows->count(); ++i)
            if (auto* view = qobject_cast<KRAMultiEncEntryView*>(m_rows->itemAt(i)->widget()))
                views.append(view);
    return views;
}

int KRAEncoderPageMultiEnc::rowOfView(const QWidget* view) const
{
    const QList<KRAMultiEncEntryView*> views = rowViews();
    for (int i = 0; i < views.size(); ++i)
        if (views[i] == view)
            return i;
    return -1;
}

QWidget* KRAEncoderPageMultiEnc::sheetParent()
{
    if (host() && host()->pageHostWindow())
        return host()->pageHostWindow();
    return view()->window();
}

void KRAEncoderPageMultiEnc::onAddEncoder()
{
    const QList<QKEncoderDescRef> available = QKEncoderDesc::listEncoders_dropSpecial();
    if (available.isEmpty() || !host())
        return;
    auto entry = std::make_shared<KRAMultiEncEntry>();
    entry->encoder = available.first();
    if (!host()->encoderAllowSameFolder())
        entry->fileNaming->setFileNamingType(FileNamingSingleFolder);
    configureEncoder(entry, true, -1);
}

void KRAEncoderPageMultiEnc::onEncoderSettings(int row)
{
    if (row < 0 || row >= m_encoders.size())
        return;
    configureEncoder(m_encoders[row]->copy(), false, row);
}

void KRAEncoderPageMultiEnc::onEncoderRemove(int row)
{
    if (row < 0 || row >= m_encoders.size())
        return;
    m_encoders.removeAt(row);
    reloadRows();
    updateArgs();
}

void KRAEncoderPageMultiEnc::configureEncoder(const KRAMultiEncEntryRef& entry, bool addingNew, int row)
{
    if (m_dialog || !host())
        return;
    QWidget* parent = sheetParent();
    auto* dialog = new KRAMultiEncConfigureEncoder(entry, host()->encoderAllowSameFolder(), parent);
    m_dialog = dialog;
    QPointer<KRAEncoderPageMultiEnc> self(this);
    QPointer<QDialog> guard(dialog);
    const KRAMultiEncEntryRef original = addingNew ? nullptr : m_encoders.value(row);
    const bool shown = SheetFallback::beginSheet(dialog, parent, [self, guard, entry, original](int64_t code) {
        if (guard)
            guard->deleteLater();
        if (!self)
            return;
        self->m_dialog = nullptr;
        if (code != 1)
            return;
        if (original) {
            // The row may have been removed meanwhile: only an entry still in the set takes
            // the edit.
            if (!self->m_encoders.contains(original))
                return;
            original->copyFrom(*entry);
        } else {
            self->m_encoders.append(entry);
        }
        self->reloadRows();
        self->updateArgs();
    });
    if (!shown)
        delete dialog;
}

void KRAEncoderPageMultiEnc::updateArgs()
{
    if (!m_config || !host())
        return;
    m_config->entries = m_encoders;
    m_config->multiCPU = m_multiCPU ? m_multiCPU->isChecked() : m_config->multiCPU;
    host()->setEncoderArgs(m_config->toString());
}

bool KRAEncoderPageMultiEnc::pageValidate()
{
    if (!m_encoders.isEmpty())
        return true;
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Multi Encoder"),
                                  QStringLiteral("Multi Encoder not configured."), QMessageBox::Ok, sheetParent());
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    m_alert = alert;
    alert->open();
    return false;
}

KRAMultiEncConfigureEncoder* KRAEncoderPageMultiEnc::configureDialog() const
{
    return qobject_cast<KRAMultiEncConfigureEncoder*>(m_dialog.data());
}

QMessageBox* KRAEncoderPageMultiEnc::openAlert() const
{
    return m_alert;
}

// ---- The encoder's sheet -----------------------------------------------------------------------

KRAMultiEncConfigureEncoder::KRAMultiEncConfigureEncoder(const KRAMultiEncEntryRef& entry, bool allowSameFolder,
                                                         QWidget* parent)
    : QDialog(parent), m_entry(entry), m_allowSameFolder(allowSameFolder),
      m_encoderList(QKEncoderDesc::listEncoders_dropSpecial()), m_chain(std::make_shared<QKDSPChain>(entry->dspEffects))
{
    setWindowTitle(QStringLiteral("Configure Encoder"));
    setMinimumSize(680, 560);
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Encoder:"), this);
    m_picker = new QComboBox(this);
    label->setBuddy(m_picker);
    for (const QKEncoderDescRef& encoder : m_encoderList)
        m_picker->addItem(encoder->name());
    KRACodecLogos::addLogosToPicker(m_picker);
    const QString current = entry->encoder ? entry->encoder->name() : QString();
    m_picker->setCurrentIndex(std::max(0, m_picker->findText(current, Qt::MatchExactly)));
    top->addWidget(label);
    top->addWidget(m_picker, 1);
    layout->addLayout(top);

    auto* settings = new QGroupBox(QStringLiteral("Encoder Settings"), this);
    auto* settingsLayout = new QVBoxLayout(settings);
    auto* scroll = new QScrollArea(settings);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    m_pageHost = new QWidget;
    auto* pageLayout = new QVBoxLayout(m_pageHost);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    scroll->setWidget(m_pageHost);
    settingsLayout->addWidget(scroll);
    layout->addWidget(settings, 3);

    auto* effects = new QGroupBox(QStringLiteral("Effects"), this);
    auto* effectsLayout = new QVBoxLayout(effects);
    m_dspList = new KRADSPListPane(this);
    m_dspList->setDspEffects(m_chain);
    effectsLayout->addWidget(m_dspList->view());
    layout->addWidget(effects, 2);

    auto* outputRow = new QHBoxLayout;
    auto* outputLabel = new QLabel(QStringLiteral("&Output:"), this);
    auto context = std::make_shared<KRADynamicNamingDialogV2_Context>();
    context->setAllowSameFolder(allowSameFolder);
    m_dspList->setNamingDialogContext(context);
    m_locationPicker = new KRAOutputLocationPickerV2(this);
    m_locationPicker->setNamingDialogContext(context);
    outputRow->addWidget(outputLabel);
    outputRow->addWidget(m_locationPicker->view(), 1);
    m_locationPicker->setFileNaming(entry->fileNaming);
    m_locationPicker->setEncoder(entry->encoder);
    outputLabel->setBuddy(m_locationPicker->comboBox());
    layout->addLayout(outputRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &KRAMultiEncConfigureEncoder::onOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &KRAMultiEncConfigureEncoder::onCancel);
    connect(m_picker, &QComboBox::activated, this, &KRAMultiEncConfigureEncoder::onEncoderSelected);
    createEncoderPage();
}

KRAMultiEncConfigureEncoder::~KRAMultiEncConfigureEncoder()
{
    if (m_page) {
        m_page->detachHost();
        m_page.reset();
    }
}

void KRAMultiEncConfigureEncoder::createEncoderPage()
{
    if (m_page) {
        m_page->detachHost();
        m_page.reset();
    }
    const QString name = m_entry->encoder ? m_entry->encoder->name() : QString();
    m_page = KRAEncoderPageIndex::createFor(name, this);
    if (m_page)
        m_pageHost->layout()->addWidget(m_page->pageView());
}

void KRAMultiEncConfigureEncoder::onEncoderSelected()
{
    const int index = m_picker->currentIndex();
    if (index < 0 || index >= m_encoderList.size())
        return;
    if (m_entry->encoder && m_entry->encoder->name() == m_encoderList[index]->name())
        return;
    m_locationPicker->saveToRecentList();
    m_entry->encoder = m_encoderList[index];
    m_entry->encoderArgsV2 = QKEncoderArgs();
    m_locationPicker->setEncoder(m_entry->encoder);
    createEncoderPage();
}

void KRAMultiEncConfigureEncoder::onOK()
{
    if (m_done)
        return;
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    if (m_page && !m_page->pageValidate())
        return;
    if (m_page)
        m_page->pageWillClose();
    m_locationPicker->saveToRecentList();
    m_entry->dspEffects = *m_chain;
    // The naming may use the encoder and its settings in its template.
    const QString name = m_entry->encoder ? m_entry->encoder->name() : QString();
    m_entry->fileNaming->setEncoderName(name);
    m_entry->fileNaming->setEncoderExtra(m_entry->encoderArgsV2.strArgs);
    m_entry->fileNaming->setDspEffectsString(QKConversionSpec::mergeDSPString(m_entry->dspEffects));
    end(1);
}

void KRAMultiEncConfigureEncoder::onCancel()
{
    end(0);
}

void KRAMultiEncConfigureEncoder::end(int code)
{
    if (m_done)
        return;
    m_done = true;
    if (!SheetFallback::endSheet(this, code))
        done(code);
}
