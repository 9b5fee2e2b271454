// Every profile loaded from a store file of any bytes: the bytes become the store, all
// profiles (user ones too when the store allows them) are loaded, saved and loaded again.
// Nothing may crash, and the second load must give exactly what the first one held: what
// profiles read they write back unchanged.
#include <fcntl.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "setup/KRAConfig.h"
#include "xclass/XRegistry.h"

namespace {

void WriteStore(const std::string& path, const uint8_t* data, size_t size)
{
    fuzz::WriteFileAtomically(path, data, size);
    unlink((path + ".lock").c_str());
}

QString Describe(const KRAConfig& config)
{
    QStringList lines{QStringLiteral("active=") + config.activeProfileName()};
    QList<KRAProfileRef> all = config.encoderProfiles() + config.userProfiles();
    for (const KRAProfileRef& profile : all) {
        lines << QStringLiteral("[%1]").arg(profile->profileName) << profile->encoderArgsV2.strArgs
              << profile->encoderArgsV2.customFormatExt.value_or(QStringLiteral("(none)"))
              << profile->storedDspString();
        if (profile->encoderArgsV2.frontendData)
            for (auto it = profile->encoderArgsV2.frontendData->constBegin();
                 it != profile->encoderArgsV2.frontendData->constEnd(); ++it)
                lines << it.key() + QLatin1Char('=') + it.value().toString();
        const KRAFileNaming& naming = *profile->fileNaming;
        lines << QString::number(naming.fileNamingType()) << naming.dynamicFormat()
              << (naming.destination() ? XStrToQString(naming.destination()->path()) : QStringLiteral("(none)"));
    }
    // Control characters shown as codes: a report must show where two texts differ.
    QString out;
    for (const QChar c : lines.join(QLatin1Char('\n')))
        out += c.unicode() < 0x20 && c != QLatin1Char('\n')
                   ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                   : QString(c);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string store = XRegistry::GetLocation().ToUTF8String();
    WriteStore(store, data, size);
    XRegistry::DropCache();

    QString first;
    {
        KRAConfig config;
        first = Describe(config);
        config.saveAll();
    }
    XRegistry::DropCache();
    KRAConfig again;
    const QString second = Describe(again);
    fuzz::Check(first == second, "profiles read back differently after a save",
                (first + QStringLiteral("\n----\n") + second).toStdString());
    return 0;
}
