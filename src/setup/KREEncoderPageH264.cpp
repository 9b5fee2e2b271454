#include "setup/KREEncoderPageH264.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/KRAEncoderPageHost.h"

const std::vector<KREEncoderPageAdvanced::Entry>& KREEncoderPageAdvanced::tuneEntries()
{
    static const std::vector<Entry> entries = {
        {"", "General"},
        {"film", "Film"},
        {"animation", "Animation"},
        {"grain", "Grainy film"},
        {"stillimage", "Slideshow"},
        {"fastdecode", "Fast decode"},
        {"zerolatency", "Zero latency streaming"},
    };
    return entries;
}

const std::vector<KREEncoderPageAdvanced::Entry>& KREEncoderPageAdvanced::presetEntries()
{
    static const std::vector<Entry> entries = {
        {"ultrafast", "Ultra fast"},
        {"superfast", "Super fast"},
        {"veryfast", "Very fast"},
        {"faster", "Faster"},
        {"fast", "Fast"},
        {"medium", "Medium"},
        {"slow", "Slow"},
        {"slower", "Slower"},
        {"veryslow", "Very slow"},
    };
    return entries;
}

namespace {

QStringList Labels(const std::vector<KREEncoderPageAdvanced::Entry>& entries)
{
    QStringList labels;
    for (const auto& entry : entries)
        labels.append(QString::fromLatin1(entry.second));
    return labels;
}

std::optional<QString> ValueAt(const std::vector<KREEncoderPageAdvanced::Entry>& entries, int index)
{
    if (index < 0 || index >= static_cast<int>(entries.size()))
        return std::nullopt;
    return QString::fromLatin1(entries[static_cast<size_t>(index)].first);
}

void SelectValue(QComboBox* box, const std::vector<KREEncoderPageAdvanced::Entry>& entries, const QString& value,
                 const char* fallback)
{
    if (!box)
        return;
    for (const QString& wanted : {value, QString::fromLatin1(fallback)}) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (wanted == QLatin1String(entries[i].first)) {
                box->setCurrentIndex(static_cast<int>(i));
                return;
            }
        }
    }
}

} // namespace

KREEncoderPageAdvanced::KREEncoderPageAdvanced(bool withTune, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Advanced Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_preset = new QComboBox(this);
    m_preset->addItems(lstQualityPresetEntries());
    form->addRow(QStringLiteral("&Encoder preset:"), m_preset);
    if (withTune) {
        m_tune = new QComboBox(this);
        m_tune->addItems(Labels(tuneEntries()));
        form->addRow(QStringLiteral("&Tune for:"), m_tune);
        m_compat = new QCheckBox(QStringLiteral("&Maximum compatibility (baseline profile, level 3.0)"), this);
        form->addRow(QString(), m_compat);
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &KREEncoderPageAdvanced::onOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &KREEncoderPageAdvanced::cancel);
    setStrQualityPreset(QStringLiteral("medium"));
    setStrTuneFor(QString());
}

QStringList KREEncoderPageAdvanced::lstTuneForEntries() const
{
    return Labels(tuneEntries());
}

QStringList KREEncoderPageAdvanced::lstQualityPresetEntries() const
{
    return Labels(presetEntries());
}

std::optional<QString> KREEncoderPageAdvanced::strTuneFor() const
{
    return m_tune ? ValueAt(tuneEntries(), m_tune->currentIndex()) : std::nullopt;
}

std::optional<QString> KREEncoderPageAdvanced::strQualityPreset() const
{
    return ValueAt(presetEntries(), m_preset->currentIndex());
}

void KREEncoderPageAdvanced::setStrTuneFor(const QString& value)
{
    SelectValue(m_tune, tuneEntries(), value, "");
}

void KREEncoderPageAdvanced::setStrQualityPreset(const QString& value)
{
    SelectValue(m_preset, presetEntries(), value, "medium");
}

void KREEncoderPageAdvanced::setBMaximumCompatibility(bool on)
{
    if (m_compat)
        m_compat->setChecked(on);
}

void KREEncoderPageAdvanced::onOK()
{
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    accept();
}

KREEncoderPageX26x::KREEncoderPageX26x(KRAEncoderPageHost* host, const QString& format, bool h264, QObject* parent)
    : KREEncoderPageCodec(host, format, {ModeABR, ModeCBR, ModeCRF, ModeLossless}, parent), m_h264(h264)
{
}

QString KREEncoderPageX26x::encoderArgs() const
{
    QKElemValueList list(m_h264 ? QStringLiteral("-c:v libx264") : QStringLiteral("-c:v libx265"));
    list.addElemsFromString(commonArgs());
    if (m_h264 && m_compat) {
        list.addElem(QStringLiteral("profile:v"), QStringLiteral("baseline"));
        list.addElem(QStringLiteral("level"), QStringLiteral("3.0"));
    }
    // libx264 keeps the source's pixel format: a 10-bit or 4:4:4 source would give High 10 or
    // High 4:4:4, which most players cannot play (and the baseline profile refuses). Lossless
    // keeps the source's format, as it has to in order to be exact; a Pixel Format effect
    // overrides either (the engine drops this one then).
    if (m_h264 && (m_compat || !isLossless()))
        list.addElem(QStringLiteral("pix_fmt"), QStringLiteral("yuv420p"));
    if (m_h264 && !m_tune.isEmpty())
        list.addElem(QStringLiteral("tune"), m_tune);
    if (!m_preset.isEmpty())
        list.addElem(QStringLiteral("preset"), m_preset);
    list.addElemsFromString(audioSwitch());
    if (!m_h264)
        mergeX265Params(list);
    return list.mergeToString_alternate();
}

void KREEncoderPageX26x::setEncoderArgs(const QString& args)
{
    readCodecArgs(args);
    const QKElemValueList list(args);
    if (m_h264) {
        m_compat = list.findValue(QStringLiteral("profile:v"), QString()) == QLatin1String("baseline");
        m_tune = list.findValue(QStringLiteral("tune"), QString());
        // A text stored without the pixel format would keep giving 10-bit or 4:4:4 files.
        if ((m_compat || !isLossless()) && !list.containsElem(QStringLiteral("pix_fmt")))
            scheduleResend();
    }
    m_preset = list.findValue(QStringLiteral("preset"), QString());
}

void KREEncoderPageX26x::addControlsBelow(QVBoxLayout* layout)
{
    auto* row = new QHBoxLayout;
    auto* advanced = new QPushButton(QStringLiteral("Ad&vanced…"));
    row->addStretch(1);
    row->addWidget(advanced);
    layout->addLayout(row);
    connect(advanced, &QPushButton::clicked, this, &KREEncoderPageX26x::onAdvanced);
}

void KREEncoderPageX26x::onAdvanced()
{
    if (m_sheet)
        return;
    QWidget* parent = host() && host()->pageHostWindow() ? host()->pageHostWindow() : view()->window();
    KREEncoderPageAdvanced* sheet =
        m_h264 ? static_cast<KREEncoderPageAdvanced*>(new KREEncoderPageMP4H264Advanced(parent))
               : new KREEncoderPageMP4H265Advanced(parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    if (m_h264) {
        sheet->setBMaximumCompatibility(m_compat);
        if (!m_tune.isEmpty())
            sheet->setStrTuneFor(m_tune);
    }
    if (!m_preset.isEmpty())
        sheet->setStrQualityPreset(m_preset);
    m_sheet = sheet;
    // The page may be gone before the sheet ends: the connection goes with it.
    connect(sheet, &QDialog::finished, this, [this, sheet](int code) {
        if (code == QDialog::Accepted) {
            if (m_h264) {
                m_compat = sheet->bMaximumCompatibility();
                m_tune = sheet->strTuneFor().value_or(QString());
            }
            m_preset = sheet->strQualityPreset().value_or(QString());
        }
        onChanged();
    });
    sheet->open();
}
