#include "setup/KREEncoderPagePreviewGenerator.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>

#include <cmath>
#include <mutex>

#include "job/KRECodecs.h"
#include "job/QKElemValueList.h"
#include "kit/SheetFallback.h"
#include "setup/KRAEncoderPageHost.h"
#include "setup/KRAEncoderSettingsPopup.h"
#include "setup/QKEncoderMenus.h"

namespace {

constexpr int kDefaultDelayBetweenFramesMS = 500;
constexpr int kDefaultFrameEveryMS = 20000;
constexpr int kDefaultTotalFrames = 20;
constexpr int kDefaultDelayFirstFrameMS = 5000;
const char* const kDefaultEncoder = "GIF Animation";
const char* const kSeparator = "_eSep_";

const QMap<QString, QKEncoderDescRef>& EncoderCache()
{
    static std::once_flag once;
    static QMap<QString, QKEncoderDescRef> cache;
    std::call_once(once, [] {
        for (const QKEncoderDescRef& desc : KRECodecs::listEncoders())
            if (!cache.contains(desc->name()))
                cache.insert(desc->name(), desc);
    });
    return cache;
}

// Besides the preview generator itself, the multi-encoder and the audio extractors: the
// encoders that cannot make a video of the sampled frames. A contact sheet is one still
// picture (the contact sheet encoder makes it of the whole source), and an encoder that copies
// the video stream cannot retime frames taken out of it.
QSet<QString> SuppressedEncoders()
{
    QSet<QString> suppress{QStringLiteral("[Preview Generator]"), QKEncoderDesc::strMultiEncoder(),
                           QStringLiteral("[Contact Sheet]")};
    for (const QString& name : EncoderCache().keys())
        if (name.startsWith(QLatin1String("Audio ")) || name.contains(QLatin1String("(copy, no encoding)")))
            suppress.insert(name);
    return suppress;
}

// A stored value scaled to the page's unit: 0 (the default follows) when at or below 0,
// the range's top when above it; repaired is set for a value out of range either way.
int StoredValue(const QKElemValueList& list, const QString& name, double scale, int maximum, bool& repaired)
{
    const double value = std::round(list.findDoubleValue(name) * scale);
    if (value < 0) {
        repaired = true;
        return 0;
    }
    if (!(value <= maximum)) {
        repaired = true;
        return maximum;
    }
    return static_cast<int>(value);
}

QDoubleSpinBox* SecondsBox(int maximumMS)
{
    auto* box = new QDoubleSpinBox;
    box->setDecimals(3);
    box->setRange(0.001, maximumMS / 1000.0);
    box->setSingleStep(0.5);
    box->setSuffix(QStringLiteral(" s"));
    box->setKeyboardTracking(false);
    return box;
}

int ToMS(double seconds)
{
    return static_cast<int>(std::lround(seconds * 1000.0));
}

} // namespace

KREEncoderPagePreviewGenerator::KREEncoderPagePreviewGenerator(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPage(host, parent)
{
    setTitle(QStringLiteral("Preview Generator"));
}

KREEncoderPagePreviewGenerator::~KREEncoderPagePreviewGenerator()
{
    // First, so that the pop-up's end, which follows, reaches nothing of this page.
    m_alive.reset();
    if (m_popup) {
        m_popup->end(0);
        if (m_popup)
            m_popup->deleteLater();
    }
}

QKEncoderDescRef KREEncoderPagePreviewGenerator::cachedEncoder(const QString& name)
{
    return EncoderCache().value(name);
}

QKEncoderDescRef KREEncoderPagePreviewGenerator::findEncoderDesc() const
{
    return cachedEncoder(m_selectedEncoder);
}

void KREEncoderPagePreviewGenerator::loadView()
{
    auto* view = new QWidget;
    auto* form = new QFormLayout(view);

    m_picker = new QComboBox;
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_settingsButton = new QPushButton(QStringLiteral("&Settings…"));
    m_settingsButton->setToolTip(QStringLiteral("Settings of the encoder that makes the preview"));
    auto* encoderRow = new QHBoxLayout;
    encoderRow->addWidget(m_picker, 1);
    encoderRow->addWidget(m_settingsButton);
    auto* encoderLabel = new QLabel(QStringLiteral("E&ncoder:"));
    encoderLabel->setBuddy(m_picker);
    form->addRow(encoderLabel, encoderRow);

    m_everyRadio = new QRadioButton(QStringLiteral("One frame e&very"));
    m_totalRadio = new QRadioButton(QStringLiteral("A &fixed number of frames"));
    auto* group = new QButtonGroup(view);
    group->addButton(m_everyRadio);
    group->addButton(m_totalRadio);
    m_everyBox = SecondsBox(kMaxFrameEveryMS);
    m_totalBox = new QSpinBox;
    m_totalBox->setRange(1, kMaxTotalFrames);
    m_totalBox->setSuffix(QStringLiteral(" frames"));
    m_totalBox->setKeyboardTracking(false);
    auto* frames = new QGridLayout;
    frames->addWidget(m_everyRadio, 0, 0);
    frames->addWidget(m_everyBox, 0, 1);
    frames->addWidget(m_totalRadio, 1, 0);
    frames->addWidget(m_totalBox, 1, 1);
    frames->setColumnStretch(2, 1);
    form->addRow(QStringLiteral("Take:"), frames);

    m_firstDelayBox = SecondsBox(kMaxDelayFirstFrameMS);
    m_firstDelayBox->setToolTip(QStringLiteral("Where in the source the first frame is taken"));
    form->addRow(QStringLiteral("First frame &at:"), m_firstDelayBox);
    m_betweenBox = SecondsBox(kMaxDelayBetweenFramesMS);
    m_betweenBox->setToolTip(QStringLiteral("How long each frame is shown in the preview"));
    form->addRow(QStringLiteral("Show each fra&me for:"), m_betweenBox);

    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (m_picker)
            onEncoderCombo(m_picker->itemText(index));
    });
    connect(m_settingsButton, &QPushButton::clicked, this, [this] { onEncoderSettings(); });
    connect(m_everyRadio, &QRadioButton::toggled, this, [this] { onChanged(); });
    connect(m_everyBox, &QDoubleSpinBox::valueChanged, this, [this] { onChanged(); });
    connect(m_totalBox, &QSpinBox::valueChanged, this, [this] { onChanged(); });
    connect(m_firstDelayBox, &QDoubleSpinBox::valueChanged, this, [this] { onChanged(); });
    connect(m_betweenBox, &QDoubleSpinBox::valueChanged, this, [this] { onChanged(); });
    setView(view);
}

void KREEncoderPagePreviewGenerator::viewDidLoad()
{
    setupEncoders();
    argsFromHost();
    validate();
    showValues();
}

void KREEncoderPagePreviewGenerator::setupEncoders()
{
    if (m_picker)
        QKEncoderMenus::setupEncoderPicker(m_picker, SuppressedEncoders());
}

void KREEncoderPagePreviewGenerator::argsFromHost()
{
    if (!host())
        return;
    const QKElemValueList list(host()->encoderArgs());
    QString nested = list.findValue(QStringLiteral("prev_gen_encNset"), QString());
    nested.replace(QLatin1String("_SELCOMMA_"), QLatin1String(","));
    nested.replace(QLatin1String("_SELQUOTE_"), QLatin1String("\""));
    const qsizetype separator = nested.indexOf(QLatin1String(kSeparator));
    if (separator < 0) {
        m_selectedEncoder = nested;
        m_selectedEncoderSettings.clear();
    } else {
        m_selectedEncoder = nested.left(separator);
        m_selectedEncoderSettings = nested.mid(separator + qsizetype(qstrlen(kSeparator)));
    }
    m_selectedEncoderValid = m_selectedEncoder;
    m_selectedEncoderExtension = host()->encoderArgsV2().customFormatExt.value_or(QString());
    const QKEncoderDescRef desc = findEncoderDesc();
    m_selectedEncoderConfigurable = desc && desc->haveSettings;

    m_delayBetweenFramesMS =
        StoredValue(list, QStringLiteral("prev_gen_ufe"), 1000.0, kMaxDelayBetweenFramesMS, m_repaired);
    if (list.containsElem(QStringLiteral("prev_gen_gtf"))) {
        m_bGenerateTotalFrames = true;
        m_generateTotalFrames =
            StoredValue(list, QStringLiteral("prev_gen_inputval"), 1.0, kMaxTotalFrames, m_repaired);
    } else {
        m_bGenerateTotalFrames = false;
        m_generateFrameEveryMS =
            StoredValue(list, QStringLiteral("prev_gen_inputval"), 1000.0, kMaxFrameEveryMS, m_repaired);
    }
    m_delayFirstFrameMS =
        StoredValue(list, QStringLiteral("prev_gen_firstdelay"), 1000.0, kMaxDelayFirstFrameMS, m_repaired);
}

void KREEncoderPagePreviewGenerator::validate()
{
    bool defaulted = false;
    if (m_selectedEncoder.isEmpty() || m_selectedEncoderExtension.isEmpty()) {
        const QKEncoderDescRef fallback = cachedEncoder(QString::fromLatin1(kDefaultEncoder));
        m_selectedEncoder = QString::fromLatin1(kDefaultEncoder);
        m_selectedEncoderSettings.clear();
        m_selectedEncoderExtension = fallback ? fallback->formatExtension() : QStringLiteral(".gif");
        validateEncoder();
        defaulted = true;
    }
    const auto fill = [](int& value, int fallback) {
        if (value == 0)
            value = fallback;
    };
    fill(m_delayBetweenFramesMS, kDefaultDelayBetweenFramesMS);
    fill(m_generateFrameEveryMS, kDefaultFrameEveryMS);
    fill(m_generateTotalFrames, kDefaultTotalFrames);
    fill(m_delayFirstFrameMS, kDefaultDelayFirstFrameMS);
    if (defaulted || m_repaired)
        argsToHost();
    m_repaired = false;
}

void KREEncoderPagePreviewGenerator::validateEncoder()
{
    m_selectedEncoderValid = m_selectedEncoder;
    const QKEncoderDescRef desc = findEncoderDesc();
    m_selectedEncoderConfigurable = desc && desc->haveSettings;
}

QString KREEncoderPagePreviewGenerator::pageArgs() const
{
    QKElemValueList list;
    list.addElemMs(QStringLiteral("prev_gen_ufe"), m_delayBetweenFramesMS);
    if (m_bGenerateTotalFrames) {
        list.addElemInt(QStringLiteral("prev_gen_gtf"), 1);
        list.addElemInt(QStringLiteral("prev_gen_inputval"), m_generateTotalFrames);
    } else {
        list.addElemInt(QStringLiteral("prev_gen_gfe"), 1);
        list.addElemMs(QStringLiteral("prev_gen_inputval"), m_generateFrameEveryMS);
    }
    list.addElemMs(QStringLiteral("prev_gen_firstdelay"), m_delayFirstFrameMS);
    // The runner splits its arguments at commas and quotes: the nested text holds neither.
    QString nested = m_selectedEncoderValid + QLatin1String(kSeparator) + m_selectedEncoderSettings;
    nested.replace(QLatin1String("\""), QLatin1String("_SELQUOTE_"));
    nested.replace(QLatin1String(","), QLatin1String("_SELCOMMA_"));
    list.addElem(QStringLiteral("prev_gen_encNset"), nested);
    return list.mergeToString_alternate();
}

void KREEncoderPagePreviewGenerator::argsToHost()
{
    if (!host())
        return;
    host()->setEncoderArgs(pageArgs());
    host()->encoderArgsV2().customFormatExt = m_selectedEncoderExtension;
}

QStringList KREEncoderPagePreviewGenerator::codecChoices() const
{
    QComboBox picker;
    QKEncoderMenus::setupEncoderPicker(&picker, SuppressedEncoders());
    QStringList names;
    for (int i = 0; i < picker.count(); i++)
        if (picker.itemData(i).canConvert<QKEncoderDescRef>() && picker.itemData(i).value<QKEncoderDescRef>())
            names.append(picker.itemText(i));
    return names;
}

void KREEncoderPagePreviewGenerator::selectCodecChoice(int index)
{
    const QStringList choices = codecChoices();
    if (index < 0 || index >= choices.size())
        return;
    view();
    m_selectedEncoder = choices.at(index);
    const QKEncoderDescRef desc = findEncoderDesc();
    if (!desc || !desc->haveSettings) {
        encoderConfigured(QKEncoderArgs());
        return;
    }
    // The pop-up as the user would confirm it straight away: the page's defaults.
    KRAEncoderSettingsPopup popup(m_selectedEncoder, QKEncoderArgs());
    if (popup.encoderPage() && !popup.encoderPage()->pageValidate()) {
        m_selectedEncoder = m_selectedEncoderValid;
        showPicker();
        return;
    }
    encoderConfigured(popup.encoderArgsV2());
}

void KREEncoderPagePreviewGenerator::onEncoderCombo(const QString& name)
{
    m_selectedEncoder = name;
    onEncoderSettings();
}

void KREEncoderPagePreviewGenerator::onEncoderSettings()
{
    if (m_popup)
        return;
    const QKEncoderDescRef desc = findEncoderDesc();
    if (!desc) {
        m_selectedEncoder = m_selectedEncoderValid;
        showPicker();
        return;
    }
    if (!desc->haveSettings) {
        encoderConfigured(QKEncoderArgs());
        return;
    }
    QKEncoderArgs args;
    if (m_selectedEncoder == m_selectedEncoderValid) {
        args.strArgs = m_selectedEncoderSettings;
        args.customFormatExt = m_selectedEncoderExtension;
    }
    QWidget* parentWindow = host() && host()->pageHostWindow() ? host()->pageHostWindow() : view()->window();
    m_popup = new KRAEncoderSettingsPopup(m_selectedEncoder, args, parentWindow);
    const std::weak_ptr<bool> alive = m_alive;
    const QPointer<KRAEncoderSettingsPopup> popup = m_popup;
    const bool begun = SheetFallback::beginSheet(m_popup, parentWindow, [this, alive, popup](int64_t code) {
        if (popup)
            popup->deleteLater();
        if (alive.expired())
            return;
        m_popup = nullptr;
        if (code == 1 && popup) {
            encoderConfigured(popup->encoderArgsV2());
        } else {
            m_selectedEncoder = m_selectedEncoderValid;
            showPicker();
        }
    });
    if (!begun) {
        delete m_popup;
        m_selectedEncoder = m_selectedEncoderValid;
        showPicker();
    }
}

void KREEncoderPagePreviewGenerator::encoderConfigured(const QKEncoderArgs& args)
{
    m_selectedEncoderSettings = args.strArgs;
    const QString ext = args.customFormatExt.value_or(QString());
    if (!ext.isEmpty()) {
        m_selectedEncoderExtension = ext;
    } else {
        const QKEncoderDescRef desc = findEncoderDesc();
        m_selectedEncoderExtension = desc ? desc->formatExtension() : QString();
    }
    validateEncoder();
    showPicker();
    argsToHost();
}

void KREEncoderPagePreviewGenerator::showPicker()
{
    if (!m_picker)
        return;
    const int index = m_picker->findText(m_selectedEncoder);
    if (index < 0)
        m_picker->setPlaceholderText(m_selectedEncoder);
    m_picker->setCurrentIndex(index);
    if (m_settingsButton)
        m_settingsButton->setEnabled(m_selectedEncoderConfigurable);
}

void KREEncoderPagePreviewGenerator::showValues()
{
    if (!m_picker)
        return;
    m_showing = true;
    showPicker();
    m_everyRadio->setChecked(!m_bGenerateTotalFrames);
    m_totalRadio->setChecked(m_bGenerateTotalFrames);
    m_everyBox->setValue(m_generateFrameEveryMS / 1000.0);
    m_totalBox->setValue(m_generateTotalFrames);
    m_everyBox->setEnabled(!m_bGenerateTotalFrames);
    m_totalBox->setEnabled(m_bGenerateTotalFrames);
    m_firstDelayBox->setValue(m_delayFirstFrameMS / 1000.0);
    m_betweenBox->setValue(m_delayBetweenFramesMS / 1000.0);
    m_showing = false;
}

void KREEncoderPagePreviewGenerator::onChanged()
{
    if (m_showing || !m_picker)
        return;
    m_bGenerateTotalFrames = m_totalRadio->isChecked();
    m_generateFrameEveryMS = ToMS(m_everyBox->value());
    m_generateTotalFrames = m_totalBox->value();
    m_delayFirstFrameMS = ToMS(m_firstDelayBox->value());
    m_delayBetweenFramesMS = ToMS(m_betweenBox->value());
    m_everyBox->setEnabled(!m_bGenerateTotalFrames);
    m_totalBox->setEnabled(m_bGenerateTotalFrames);
    argsToHost();
}
