#include "setup/KREAudioOptions.h"

KREAudioOptions KREAudioOptions::createForFormat(const QString& format)
{
    KREAudioOptions options;
    const QString lower = format.toLower();
    if (lower == QLatin1String("mp4") || lower == QLatin1String("mov")) {
        options.addAAC();
        options.addCopy();
    } else if (lower == QLatin1String("matroska")) {
        options.addAAC();
        options.addOpus();
        options.addVorbis();
        options.addCopy();
    } else if (lower == QLatin1String("webm")) {
        options.addOpus();
        options.addVorbis();
    }
    return options;
}

int KREAudioOptions::optionFromArgs(const QString& args) const
{
    for (int i = 0; i < m_switches.size(); ++i) {
        if (args.contains(m_switches[i]))
            return i;
    }
    return 0;
}

// Profiles stored by the macOS program name its AAC encoder "aac_at", which no Linux ffmpeg
// has: the pages write ffmpeg's own "aac", and since "-acodec aac" is part of "-acodec aac_at"
// a stored profile still reads back as this choice.
void KREAudioOptions::addAAC()
{
    add(QStringLiteral("Audio Stream: Re-encode to AAC"), QStringLiteral("-acodec aac"));
}

void KREAudioOptions::addOpus()
{
    add(QStringLiteral("Audio Stream: Re-encode to Opus"), QStringLiteral("-acodec libopus"));
}

void KREAudioOptions::addVorbis()
{
    add(QStringLiteral("Audio Stream: Re-encode to Vorbis"), QStringLiteral("-acodec libvorbis"));
}

void KREAudioOptions::addCopy()
{
    add(QStringLiteral("Audio Stream: Copy 1:1 From Source"), QStringLiteral("-acodec copy"));
}

void KREAudioOptions::add(const QString& label, const QString& option)
{
    m_labels.append(label);
    m_switches.append(option);
}
