// For the targets that open pages: an offscreen application with a fixed answer to "is a full
// ffmpeg at hand" (the same catalogue on every machine, no ffmpeg asked), and the name an
// input's first line picks from a list.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "media/QKExternalFFmpeg.h"
#include "platform/XStrQString.h"

namespace fuzz {

inline void SetUpWidgets(const char* programName)
{
    SetUpProgram();
    QKExternalFFmpeg::setProbe([] { return true; });
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static std::string name = programName;
    static char* argv[] = {name.data(), nullptr};
    static QApplication app(argc, argv);
}

// The line itself when it is one of the names, else a name chosen by the line's bytes.
inline QString PickByBytes(const QStringList& names, const std::string& line)
{
    if (names.isEmpty())
        return QString();
    const QString asText = QString::fromStdString(line);
    if (names.contains(asText))
        return asText;
    uint32_t sum = 0;
    for (unsigned char c : line)
        sum += c;
    return names.at(int(sum % uint32_t(names.size())));
}

inline std::string Bytes(const QString& text)
{
    return XStrFromQString(text).ToUTF8String();
}

} // namespace fuzz
