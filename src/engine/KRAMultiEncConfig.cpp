#include "engine/KRAMultiEncConfig.h"

#include <QHash>
#include <QVariant>

#include <algorithm>

#include "job/QKConversionSpec.h"
#include "job/QKElemValueList.h"
#include "naming/KRAFileNaming.h"
#include "naming/KRALocationDescriptor.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

const QString kQuote = QStringLiteral("\"");
const QString kQuoteMark = QStringLiteral("{mqt}");
const QString kPrivatePrefix = QStringLiteral("encoder-private-");

QString Numbered(const char* key, int number)
{
    return QString::fromLatin1(key) + QString::number(number);
}

// The options list of an entry: its extension, its page's state and where its outputs go.
QKElemValueList OptionsOf(const KRAMultiEncEntry& entry)
{
    QKElemValueList options;
    if (entry.encoderArgsV2.customFormatExt)
        options.addElem(QStringLiteral("customFormatExt"), *entry.encoderArgsV2.customFormatExt);
    if (entry.encoderArgsV2.frontendData) {
        const QVariantMap& data = *entry.encoderArgsV2.frontendData;
        for (auto it = data.constBegin(); it != data.constEnd(); ++it)
            options.addElem(kPrivatePrefix + it.key(), it.value().toString());
    }
    const KRAFileNaming* naming = entry.fileNaming.get();
    if (!naming)
        return options;
    const uint64_t type = naming->fileNamingType();
    if (type == FileNamingUseParentConfig_DEPRECATED) {
        // Read from an older set: written back as it came.
        options.addElem(QStringLiteral("parentnaming"));
    } else if (type != FileNamingSourceFolder) {
        const KRALocationDescriptorRef destination = naming->destination();
        options.addElem(QStringLiteral("tofolder"), destination ? XStrToQString(destination->path()) : QString());
        // A folder known only by its bookmark (its volume was not there when the set was
        // read) has no path to write: the bookmark is all that names it.
        if (destination && (!destination->canStoreAsURL() || destination->path().IsEmpty())) {
            const QByteArray bookmark = destination->bookmark();
            if (!bookmark.isEmpty()) {
                options.addElemBin(QStringLiteral("tofolderbookmark"), bookmark);
                options.addElem(QStringLiteral("tofolderfriendly"), destination->friendlyName());
            }
        }
        if (type == FileNamingDynamic)
            options.addElem(QStringLiteral("dynamic"), naming->dynamicFormat());
    }
    return options;
}

// The naming an options list describes, applied to entry.
void ReadNaming(const QKElemValueList& options, KRAMultiEncEntry& entry)
{
    if (options.containsElem(QStringLiteral("parentnaming"))) {
        entry.fileNaming = KRAFileNaming::namingSameFolder();
        entry.fileNaming->setFileNamingType(FileNamingUseParentConfig_DEPRECATED);
        return;
    }
    const QString folder = options.findValue(QStringLiteral("tofolder"), QString());
    const std::optional<QByteArray> bookmark = options.findBinValue(QStringLiteral("tofolderbookmark"));
    const QString friendly = options.findValue(QStringLiteral("tofolderfriendly"), QString());
    const QUrl folderURL = folder.isEmpty() ? QUrl() : XFileURL(XStrFromQString(folder));

    KRALocationDescriptorRef destination;
    if (bookmark && !bookmark->isEmpty())
        destination = KRALocationDescriptor::withBookmark(*bookmark, friendly, folderURL);
    else if (!folder.isEmpty())
        destination = KRALocationDescriptor::withFolderPath(XStrFromQString(folder));
    if (destination && destination->url().isEmpty() && destination->bookmark().isEmpty())
        destination.reset(); // a path that names no folder (a relative one)

    KRAFileNaming& naming = *entry.fileNaming;
    if (!destination) {
        naming.setFileNamingType(FileNamingSourceFolder);
        return;
    }
    if (const std::optional<QString> pattern = options.findValue(QStringLiteral("dynamic"))) {
        naming.setFileNamingType(FileNamingDynamic);
        naming.setDynamicFormat(*pattern);
    } else {
        naming.setFileNamingType(FileNamingSingleFolder);
    }
    naming.setDestination(destination);
}

} // namespace

KRAMultiEncEntry::KRAMultiEncEntry() : fileNaming(std::make_shared<KRAFileNaming>()) {}

KRAMultiEncEntryRef KRAMultiEncEntry::copy() const
{
    auto entry = std::make_shared<KRAMultiEncEntry>();
    entry->copyFrom(*this);
    return entry;
}

void KRAMultiEncEntry::copyFrom(const KRAMultiEncEntry& other)
{
    if (&other == this)
        return;
    encoder = other.encoder;
    encoderArgsV2 = other.encoderArgsV2.copy();
    if (other.fileNaming) {
        if (!fileNaming)
            fileNaming = std::make_shared<KRAFileNaming>();
        fileNaming->copyFrom(*other.fileNaming);
    }
    dspEffects = other.dspEffects;
}

QString KRAMultiEncConfig::escapeQuotes(const QString& text)
{
    QString escaped = text;
    escaped.replace(kQuote, kQuoteMark);
    return escaped;
}

QString KRAMultiEncConfig::unescapeQuotes(const QString& text)
{
    QString plain = text;
    plain.replace(kQuoteMark, kQuote);
    return plain;
}

QString KRAMultiEncConfig::toString() const
{
    QList<KRAMultiEncKeptEntry> kept = keptEntries;
    std::stable_sort(kept.begin(), kept.end(), [](const KRAMultiEncKeptEntry& a, const KRAMultiEncKeptEntry& b) {
        return a.position < b.position;
    });

    QKElemValueList list;
    int number = 1;
    qsizetype nextKept = 0;
    const auto writeKept = [&](int64_t upTo) {
        for (; nextKept < kept.size() && kept[nextKept].position <= upTo; ++nextKept) {
            const KRAMultiEncKeptEntry& entry = kept[nextKept];
            list.addElem(Numbered("enc", number), entry.enc);
            if (entry.mopt)
                list.addElem(Numbered("encMopt", number), *entry.mopt);
            if (entry.dsp)
                list.addElem(Numbered("encDSP", number), *entry.dsp);
            ++number;
        }
    };

    for (qsizetype index = 0; index < entries.size(); ++index) {
        writeKept(index);
        const KRAMultiEncEntryRef& entry = entries[index];
        if (!entry || !entry->encoder)
            continue;
        list.addElem(Numbered("enc", number),
                     escapeQuotes(entry->encoder->name() + QLatin1Char('=') + entry->encoderArgsV2.strArgs));
        const QKElemValueList options = OptionsOf(*entry);
        if (options.count() > 0)
            list.addElem(Numbered("encMopt", number), escapeQuotes(options.mergeToString()));
        if (!entry->dspEffects.isEmpty())
            list.addElem(Numbered("encDSP", number), escapeQuotes(QKConversionSpec::mergeDSPString(entry->dspEffects)));
        ++number;
    }
    writeKept(INT64_MAX);

    if (!multiCPU)
        list.addElem(QStringLiteral("nomulti"));
    return list.mergeToString();
}

KRAMultiEncConfigRef KRAMultiEncConfig::fromString(const QString& text)
{
    auto config = std::make_shared<KRAMultiEncConfig>();
    const QKElemValueList list(text);

    QHash<QString, QKEncoderDescRef> offered;
    for (const QKEncoderDescRef& encoder : QKEncoderDesc::listEncoders_dropSpecial())
        if (encoder && !offered.contains(encoder->name()))
            offered.insert(encoder->name(), encoder);

    for (int number = 1;; ++number) {
        const std::optional<QString> enc = list.findValue(Numbered("enc", number));
        if (!enc)
            break; // a gap ends the set
        const std::optional<QString> mopt = list.findValue(Numbered("encMopt", number));
        const std::optional<QString> dsp = list.findValue(Numbered("encDSP", number));

        const QString value = unescapeQuotes(*enc);
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue; // malformed: no encoder to speak of
        const QKEncoderDescRef encoder = offered.value(value.left(equals));
        if (!encoder) {
            config->keptEntries.append(KRAMultiEncKeptEntry{config->entries.size(), *enc, mopt, dsp});
            continue;
        }

        auto entry = std::make_shared<KRAMultiEncEntry>();
        entry->encoder = encoder;
        entry->encoderArgsV2.strArgs = value.mid(equals + 1);
        if (mopt) {
            const QKElemValueList options(unescapeQuotes(*mopt));
            entry->encoderArgsV2.customFormatExt = options.findValue(QStringLiteral("customFormatExt"));
            QVariantMap frontend;
            bool haveFrontend = false;
            for (int64_t i = 0; i < options.count(); ++i) {
                const std::optional<QKElemValue> pair = options.valueAtIndex(i);
                if (pair && pair->element.startsWith(kPrivatePrefix)) {
                    frontend.insert(pair->element.mid(kPrivatePrefix.size()), pair->value);
                    haveFrontend = true;
                }
            }
            if (haveFrontend)
                entry->encoderArgsV2.frontendData = frontend;
            ReadNaming(options, *entry);
        }
        if (dsp)
            QKConversionSpec::splitDSPString(unescapeQuotes(*dsp), entry->dspEffects);

        entry->fileNaming->setEncoderName(encoder->name());
        entry->fileNaming->setEncoderExtra(entry->encoderArgsV2.strArgs);
        entry->fileNaming->setDspEffectsString(QKConversionSpec::mergeDSPString(entry->dspEffects));
        config->entries.append(entry);
    }

    config->multiCPU = !list.containsElem(QStringLiteral("nomulti"));
    return config;
}
