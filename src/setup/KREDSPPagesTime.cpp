#include "setup/KREDSPPagesTime.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

#include "job/QKElemValueList.h"
#include "kit/StringScan.h"

// ---- Trim ------------------------------------------------------------------------------------

QString KREDSPPageTrim::dspArgs() const
{
    QKElemValueList list;
    if (m_startMs > 0)
        list.addElemMs(QStringLiteral("trimstart"), m_startMs);
    if (m_endMs > 0)
        list.addElemMs(QStringLiteral("trimend"), m_endMs);
    return list.mergeToString_alternate();
}

void KREDSPPageTrim::setTrim(int startMs, int endMs)
{
    m_startMs = std::max(0, startMs);
    m_endMs = std::max(0, endMs);
    settingsChanged();
}

void KREDSPPageTrim::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    m_startMs = std::max(0, list.findMSValue(QStringLiteral("trimstart")));
    m_endMs = std::max(0, list.findMSValue(QStringLiteral("trimend")));
}

void KREDSPPageTrim::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Removes time from the beginning and the end of every file."));
    note->setWordWrap(true);
    form->addRow(note);
    addSeconds(form, tr("Trim &start:"), &m_startMs, 24 * 3600);
    addSeconds(form, tr("Trim &end:"), &m_endMs, 24 * 3600);
}

// ---- Cut -------------------------------------------------------------------------------------

QString KREDSPPageCut::cutTimeText(double ms)
{
    const qint64 whole = std::llround(std::max(0.0, ms));
    const qint64 seconds = whole / 1000;
    const qint64 milliseconds = whole % 1000;
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                       .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                       .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (milliseconds != 0)
        text += QStringLiteral(".%1").arg(milliseconds, 3, 10, QLatin1Char('0'));
    return text;
}

std::optional<double> KREDSPPageCut::parseCutTime(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,9}):(\\d{1,9}):(\\d{1,9})(?:\\.(\\d*))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const double seconds =
        match.captured(1).toDouble() * 3600.0 + match.captured(2).toDouble() * 60.0 + match.captured(3).toDouble();
    // The fraction counted in whole digits, so that ".001" is exactly one millisecond.
    const QString fraction = match.captured(4).left(7);
    const double fractionMs = fraction.isEmpty() ? 0.0 : fraction.toDouble() * 1000.0 / std::pow(10.0, fraction.size());
    return seconds * 1000.0 + fractionMs;
}

QString KREDSPPageCut::shownTime(const QString& stored)
{
    if (const std::optional<double> ms = parseCutTime(stored))
        return cutTimeText(*ms);
    return stored;
}

QString KREDSPPageCut::dspArgs() const
{
    QKElemValueList list;
    // A time that does not read is refused by dspValidate; until then it is kept as typed.
    if (m_hasStart)
        list.addElem(QStringLiteral("ss"), shownTime(m_startText.trimmed()));
    if (m_hasLength)
        list.addElem(QStringLiteral("t"), shownTime(m_lengthText.trimmed()));
    return list.mergeToString_alternate();
}

bool KREDSPPageCut::dspValidate()
{
    struct Field {
        bool on;
        QString text;
        QString name;
        QLineEdit* edit;
    };
    const Field fields[] = {{m_hasStart, m_startText, tr("start"), m_startField},
                            {m_hasLength, m_lengthText, tr("length"), m_lengthField}};
    for (const Field& field : fields) {
        if (!field.on || parseCutTime(field.text))
            continue;
        if (isViewLoaded()) {
            auto* alert = new QMessageBox(QMessageBox::Warning, tr("Cut"),
                                          tr("The %1 \u201c%2\u201d is not a time.").arg(field.name, field.text),
                                          QMessageBox::Ok, sheetParent());
            alert->setInformativeText(tr("Write it as hours:minutes:seconds, for example 00:01:05.250."));
            alert->setAttribute(Qt::WA_DeleteOnClose);
            alert->setWindowModality(Qt::WindowModal);
            alert->open();
            if (field.edit) {
                field.edit->setFocus();
                field.edit->selectAll();
            }
        }
        return false;
    }
    return true;
}

void KREDSPPageCut::setStart(bool on, const QString& text)
{
    m_hasStart = on;
    m_startText = text;
    settingsChanged();
}

void KREDSPPageCut::setLength(bool on, const QString& text)
{
    m_hasLength = on;
    m_lengthText = text;
    settingsChanged();
}

void KREDSPPageCut::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    const std::optional<QString> start = list.findValue(QStringLiteral("ss"));
    const std::optional<QString> length = list.findValue(QStringLiteral("t"));
    m_hasStart = start.has_value();
    m_hasLength = length.has_value();
    m_startText = start ? shownTime(*start) : QStringLiteral("00:00:00");
    m_lengthText = length ? shownTime(*length) : QStringLiteral("00:00:00");
}

void KREDSPPageCut::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Keeps only part of every file: from the start, for the length. Times are "
                               "hours:minutes:seconds, for example 00:01:05.250."));
    note->setWordWrap(true);
    form->addRow(note);
    QCheckBox* startOn = addFlag(form, tr("Begin at a &start time"), &m_hasStart);
    m_startField = addText(form, tr("S&tart:"), &m_startText);
    QCheckBox* lengthOn = addFlag(form, tr("Keep a &length"), &m_hasLength);
    m_lengthField = addText(form, tr("Len&gth:"), &m_lengthText);
    for (QLineEdit* field : {m_startField.data(), m_lengthField.data()}) {
        field->setMaximumWidth(160);
        field->setPlaceholderText(QStringLiteral("00:00:00.000"));
    }
    addRefresher([this] {
        m_startField->setEnabled(m_hasStart);
        m_lengthField->setEnabled(m_hasLength);
    });
    connect(startOn, &QCheckBox::toggled, m_startField, &QLineEdit::setEnabled);
    connect(lengthOn, &QCheckBox::toggled, m_lengthField, &QLineEdit::setEnabled);
}

// ---- Fade ------------------------------------------------------------------------------------

QString KREDSPPageFade::dspArgs() const
{
    QKElemValueList list;
    list.addElemMs(QStringLiteral("fadein"), m_videoIn);
    list.addElemMs(QStringLiteral("fadeout"), m_videoOut);
    list.addElemMs(QStringLiteral("afadein"), m_audioIn);
    list.addElemMs(QStringLiteral("afadeout"), m_audioOut);
    return list.mergeToString();
}

void KREDSPPageFade::setFades(int videoIn, int videoOut, int audioIn, int audioOut)
{
    m_videoIn = std::max(0, videoIn);
    m_videoOut = std::max(0, videoOut);
    m_audioIn = std::max(0, audioIn);
    m_audioOut = std::max(0, audioOut);
    settingsChanged();
}

void KREDSPPageFade::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    m_videoIn = std::max(0, list.findMSValue(QStringLiteral("fadein")));
    m_videoOut = std::max(0, list.findMSValue(QStringLiteral("fadeout")));
    m_audioIn = std::max(0, list.findMSValue(QStringLiteral("afadein")));
    m_audioOut = std::max(0, list.findMSValue(QStringLiteral("afadeout")));
}

void KREDSPPageFade::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Fades the picture and the sound in at the beginning and out at the end; 0 "
                               "leaves that end as it is."));
    note->setWordWrap(true);
    form->addRow(note);
    addSeconds(form, tr("&Video fade in:"), &m_videoIn, 3600);
    addSeconds(form, tr("V&ideo fade out:"), &m_videoOut, 3600);
    addSeconds(form, tr("&Audio fade in:"), &m_audioIn, 3600);
    addSeconds(form, tr("A&udio fade out:"), &m_audioOut, 3600);
}

// ---- Loop ------------------------------------------------------------------------------------

QString KREDSPPageLoopVideo::dspArgs() const
{
    return QStringLiteral("-loopvideo=%1").arg(m_count);
}

void KREDSPPageLoopVideo::setLoopCount(int count)
{
    m_count = count;
    settingsChanged();
}

void KREDSPPageLoopVideo::readArgs(const QString& args)
{
    m_count = QKElemValueList(args).findIntValue(QStringLiteral("loopvideo"), 2);
}

void KREDSPPageLoopVideo::buildForm(QFormLayout* form)
{
    addInt(form, tr("&Play the file:"), &m_count, 1, 100, tr(" times"));
}

// ---- Reverse, Mute ---------------------------------------------------------------------------

KREDSPPageReverse::KREDSPPageReverse(QObject* parent)
    : KREDSPPageFixed(QStringLiteral("Reverse"), QStringLiteral("-vf reverse -af areverse"),
                      tr("Plays the picture and the sound backwards. The whole file is held in memory while it "
                         "is reversed: use it on short files."),
                      parent)
{
}

KREDSPPageMute::KREDSPPageMute(QObject* parent)
    : KREDSPPageFixed(QStringLiteral("Audio Mute"), QStringLiteral("-frames:a 0"),
                      tr("Writes no sound: the output has the picture only."), parent)
{
}

// ---- Speed Adjust ----------------------------------------------------------------------------

QString KREDSPPageSpeedAdjust::dspArgs() const
{
    return QString::asprintf("-vf setpts='%f*PTS'", m_factor);
}

void KREDSPPageSpeedAdjust::setFactor(double factor)
{
    m_factor = factor;
    settingsChanged();
}

void KREDSPPageSpeedAdjust::readArgs(const QString& args)
{
    if (!args.isEmpty())
        m_factor = scanFloatAfter(args, QStringLiteral("setpts='"));
}

void KREDSPPageSpeedAdjust::buildForm(QFormLayout* form)
{
    addReal(form, tr("&Time factor:"), &m_factor, 0.05, 20.0, 3, 0.05);
    m_label = new QLabel;
    m_label->setWordWrap(true);
    form->addRow(m_label);
}

void KREDSPPageSpeedAdjust::updateLabels()
{
    if (!m_label)
        return;
    if (m_factor <= 0)
        m_label->setText(tr("The factor must be above 0."));
    else
        m_label->setText(tr("The picture plays %1 times as fast (below 1 faster, above 1 slower). The sound "
                            "keeps its speed.")
                             .arg(QString::number(1.0 / m_factor, 'g', 4)));
}

// ---- Stream Selection ------------------------------------------------------------------------

namespace {

const char kStreamLetters[3] = {'v', 'a', 's'};

} // namespace

QStringList KREDSPPageStreamSelection::choiceLabels()
{
    return {QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third"),   QStringLiteral("Fourth"),
            QStringLiteral("Fifth"), QStringLiteral("Sixth"),  QStringLiteral("Seventh"), QStringLiteral("Eighth"),
            QStringLiteral("Ninth"), QStringLiteral("Tenth"),  QStringLiteral("All"),     QStringLiteral("None")};
}

QString KREDSPPageStreamSelection::dspArgs() const
{
    QStringList parts;
    for (int kind = 0; kind < 3; ++kind) {
        const QChar letter = QLatin1Char(kStreamLetters[kind]);
        const int index = m_choice[kind];
        if (index == kNone)
            parts.append(QStringLiteral("-%1n").arg(letter));
        else if (index >= 0 && index < kAll)
            parts.append(QStringLiteral("-map 0:%1:%2").arg(letter).arg(index));
        else
            parts.append(QStringLiteral("-map 0:%1?").arg(letter));
    }
    return parts.join(QLatin1Char(' '));
}

void KREDSPPageStreamSelection::setChoice(int kind, int index)
{
    if (kind < 0 || kind > 2)
        return;
    m_choice[kind] = std::clamp(index, 0, static_cast<int>(kNone));
    settingsChanged();
}

void KREDSPPageStreamSelection::readArgs(const QString& args)
{
    for (int kind = 0; kind < 3; ++kind) {
        const QChar letter = QLatin1Char(kStreamLetters[kind]);
        const QString numbered = QStringLiteral("-map 0:%1:").arg(letter);
        if (args.contains(QStringLiteral("-%1n").arg(letter)))
            m_choice[kind] = kNone;
        else if (args.contains(QStringLiteral("-map 0:%1?").arg(letter)))
            m_choice[kind] = kAll;
        else if (args.contains(numbered))
            m_choice[kind] = std::clamp(scanIntAfter(args, numbered), 0, static_cast<int>(kAll));
        else
            m_choice[kind] = kAll;
    }
}

void KREDSPPageStreamSelection::buildForm(QFormLayout* form)
{
    const QString labels[3] = {tr("&Video stream:"), tr("&Audio stream:"), tr("&Subtitle stream:")};
    for (int kind = 0; kind < 3; ++kind)
        m_boxes[kind] = addChoice(form, labels[kind], &m_choice[kind], choiceLabels());
}

// ---- Audio Bitrate ---------------------------------------------------------------------------

const QList<unsigned>& KREDSPPageAudioBitrate::kbpsTable()
{
    static const QList<unsigned> table = {8,   12,  16,  24,  32,  48,  56,  64,  80,  96,
                                          112, 128, 144, 160, 192, 224, 256, 320, 384, 448};
    return table;
}

int KREDSPPageAudioBitrate::positionForKbps(double kbps)
{
    const QList<unsigned>& table = kbpsTable();
    for (int i = 0; i < table.size(); ++i) {
        if (table[i] >= kbps)
            return i;
    }
    return static_cast<int>(table.size()) - 1;
}

double KREDSPPageAudioBitrate::kbpsOfValue(const QString& value)
{
    const QString text = value.trimmed();
    if (text.isEmpty())
        return 128;
    const QChar unit = text.back().toLower();
    if (unit == QLatin1Char('k'))
        return text.chopped(1).toDouble();
    if (unit == QLatin1Char('m'))
        return text.chopped(1).toDouble() * 1000.0;
    return text.toDouble() / 1000.0;
}

QString KREDSPPageAudioBitrate::dspArgs() const
{
    return QStringLiteral("-b:a %1k").arg(kbpsTable()[std::clamp(m_position, 0, 19)]);
}

void KREDSPPageAudioBitrate::setPosition(int position)
{
    m_position = std::clamp(position, 0, 19);
    settingsChanged();
}

void KREDSPPageAudioBitrate::readArgs(const QString& args)
{
    const QString value = QKElemValueList(args).findValue(QStringLiteral("b:a"), QString());
    m_position = positionForKbps(kbpsOfValue(value));
}

void KREDSPPageAudioBitrate::buildForm(QFormLayout* form)
{
    m_slider = addSlider(form, tr("Audio &bit rate:"), &m_position, 0, 19, &m_label);
    m_slider->setPageStep(2);
    m_slider->setTickPosition(QSlider::TicksBelow);
}

void KREDSPPageAudioBitrate::updateLabels()
{
    if (m_label)
        m_label->setText(QStringLiteral("%1 kbps").arg(kbpsTable()[std::clamp(m_position, 0, 19)]));
}

// ---- Channel count, resample, normalize ------------------------------------------------------

KREDSPPageACC::KREDSPPageACC(QObject* parent)
    : KREDSPPageDataChoice(QStringLiteral("Audio Channel Count"), QStringLiteral("Channel Count Data"),
                           tr("&Channels:"), QStringLiteral("2 (stereo)"), parent)
{
    readArgs(QString());
}

KREDSPPageResample::KREDSPPageResample(QObject* parent)
    : KREDSPPageDataChoice(QStringLiteral("Audio Resample"), QStringLiteral("Audio Resample Data"), tr("&Sample rate:"),
                           QStringLiteral("44.1 KHz"), parent)
{
    readArgs(QString());
}

KREDSPPageNormalize::KREDSPPageNormalize(QObject* parent)
    : KREDSPPageDataChoice(QStringLiteral("Audio Normalize"), QStringLiteral("Audio Normalize Data"), tr("&Loudness:"),
                           QString(), parent)
{
}
