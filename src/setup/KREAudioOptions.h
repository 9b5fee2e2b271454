// The audio-stream choices a video page offers for its container (re-encode to AAC, Opus or
// Vorbis, or copy), each a menu label and the ffmpeg switch it writes.
#pragma once

#include <QString>
#include <QStringList>

class KREAudioOptions {
public:
    // The choices of a container format word ("mp4", "matroska", ...), compared in lower
    // case; none for a container without audio choices.
    static KREAudioOptions createForFormat(const QString& format);

    const QStringList& optionLabels() const { return m_labels; }
    const QStringList& optionSwitches() const { return m_switches; }
    // The first choice whose switch occurs in the argument text; 0 when none does.
    int optionFromArgs(const QString& args) const;

    void addAAC();
    void addOpus();
    void addVorbis();
    void addCopy();

private:
    void add(const QString& label, const QString& option);

    QStringList m_labels;
    QStringList m_switches;
};
