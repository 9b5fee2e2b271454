#include "setup/KREEncoderPageExtractAudio.h"

#include <QFormLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "setup/KRAEncoderPageHost.h"

KREEncoderPageExtractAudio::KREEncoderPageExtractAudio(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPage(host, parent)
{
}

void KREEncoderPageExtractAudio::setIdxStream(int64_t stream)
{
    m_stream = static_cast<uint64_t>(std::clamp<int64_t>(stream, 0, static_cast<int64_t>(kMaxStream)));
    if (m_spin) {
        const QSignalBlocker block(m_spin);
        m_spin->setValue(static_cast<int>(m_stream));
    }
}

QString KREEncoderPageExtractAudio::argsText() const
{
    QKElemValueList list;
    list.addElem(QStringLiteral("vn"));
    if (m_copy)
        list.addElem(QStringLiteral("acodec"), QStringLiteral("copy"));
    list.addElem(QStringLiteral("map"), QStringLiteral("0:a:%1").arg(m_stream));
    return list.mergeToString_alternate();
}

QKElemValueList KREEncoderPageExtractAudio::refreshArgs()
{
    const QString text = argsText();
    if (KRAEncoderPageHost* h = host())
        h->setEncoderArgs(text);
    return QKElemValueList(text);
}

void KREEncoderPageExtractAudio::streamChanged(int stream)
{
    setIdxStream(stream);
    refreshArgs();
}

int64_t KREEncoderPageExtractAudio::streamFromArgs(const QString& args)
{
    const QString map = QKElemValueList(args).findValue(QStringLiteral("map"), QString());
    const int at = map.indexOf(QLatin1String("0:a:"));
    if (at < 0)
        return 0;
    QString run;
    for (int i = at + 4; i < map.size() && (map.at(i).isDigit() || map.at(i) == QLatin1Char('-')); ++i)
        run.append(map.at(i));
    // A hand-edited "-1" or a long run of digits stays within the streams a file can have.
    bool ok = false;
    const double value = run.toDouble(&ok);
    if (!ok || !(value > 0))
        return 0;
    return static_cast<int64_t>(std::min(value, static_cast<double>(kMaxStream)));
}

void KREEncoderPageExtractAudio::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* form = new QFormLayout;
    m_spin = new QSpinBox(view);
    m_spin->setRange(0, static_cast<int>(kMaxStream));
    m_spin->setToolTip(QStringLiteral("Which audio stream of the source to keep, counted from 0"));
    form->addRow(QStringLiteral("Audio &stream:"), m_spin);
    layout->addLayout(form);
    if (!m_note.isEmpty()) {
        auto* note = new QLabel(m_note, view);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    layout->addStretch(1);
    connect(m_spin, &QSpinBox::valueChanged, this, &KREEncoderPageExtractAudio::streamChanged);
    setView(view);
}

void KREEncoderPageExtractAudio::viewDidLoad()
{
    KRAEncoderPageHost* h = host();
    const QString stored = h ? h->encoderArgs() : QString();
    if (QKElemValueList(stored).count() == 0) {
        setIdxStream(0);
        refreshArgs();
    }
    setIdxStream(streamFromArgs(h ? h->encoderArgs() : QString()));
}

KREEncoderPageExtractAudioAAC::KREEncoderPageExtractAudioAAC(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageExtractAudio(host, parent)
{
    setStrNote(QStringLiteral("Note: AAC audio is extracted 1:1, the source file has to contain AAC audio."));
}

KREEncoderPageExtractAudioMP3::KREEncoderPageExtractAudioMP3(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageExtractAudio(host, parent)
{
    setStrNote(QStringLiteral("Note: mp3 audio is extracted 1:1, the source file has to contain mp3 audio."));
}

KREEncoderPageExtractAudioWAV::KREEncoderPageExtractAudioWAV(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageExtractAudio(host, parent)
{
    setAcodecCopy(false);
}
