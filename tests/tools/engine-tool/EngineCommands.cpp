// Batch commands: the multi-encoder string, the batch's argument string, and the actions
// after a conversion.
#include "tools/common/ToolCommand.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/KRABatch.h"
#include "engine/KRAMultiEncConfig.h"
#include "engine/QKConvertProcessShared.h"
#include "engine/QKConvertSource.h"
#include "job/QKConversionSpec.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

QString FromArg(const char* text)
{
    return XStrToQString(XStr::FromUTF8(text));
}

std::string ToBytes(const QString& text)
{
    return XStrFromQString(text).ToUTF8String();
}

// "NAME=ARGS" as an effect; the name is all of it when there is no "=".
QKDSPSpec EffectFromArg(const char* text)
{
    const QString value = FromArg(text);
    const qsizetype equals = value.indexOf(QLatin1Char('='));
    if (equals < 0)
        return QKDSPSpec(value, QString());
    return QKDSPSpec(value.left(equals), value.mid(equals + 1));
}

// Reads a multi-encoder string on standard input and writes it again as the program would
// store it (with a final newline when the input had one).
int MultiEncRoundTrip(int argc, char** argv)
{
    if (argc != 1)
        return ToolFail(argv[0], "takes no arguments (the multi-encoder string comes on standard input)");
    std::string input = ToolReadStdin();
    const bool newline = !input.empty() && input.back() == '\n';
    while (!input.empty() && (input.back() == '\n' || input.back() == '\r'))
        input.pop_back();
    const KRAMultiEncConfigRef config = KRAMultiEncConfig::fromString(XStrToQString(XStr::FromUTF8(input)));
    ToolWrite(ToBytes(config->toString()) + (newline ? "\n" : ""));
    return 0;
}

// Reads a multi-encoder string on standard input and lists what was read: one line per
// entry, one per entry kept for an encoder not offered now, then "multi=0|1".
int MultiEncList(int argc, char** argv)
{
    if (argc != 1)
        return ToolFail(argv[0], "takes no arguments (the multi-encoder string comes on standard input)");
    std::string input = ToolReadStdin();
    while (!input.empty() && (input.back() == '\n' || input.back() == '\r'))
        input.pop_back();
    const KRAMultiEncConfigRef config = KRAMultiEncConfig::fromString(XStrToQString(XStr::FromUTF8(input)));
    QString out;
    int number = 1;
    for (const KRAMultiEncEntryRef& entry : config->entries) {
        const KRAFileNaming& naming = *entry->fileNaming;
        out += QStringLiteral("%1: encoder=%2 args=%3")
                   .arg(number++)
                   .arg(entry->encoder->name(), entry->encoderArgsV2.strArgs);
        if (entry->encoderArgsV2.customFormatExt)
            out += QStringLiteral(" ext=") + *entry->encoderArgsV2.customFormatExt;
        if (entry->encoderArgsV2.frontendData) {
            const QVariantMap& data = *entry->encoderArgsV2.frontendData;
            for (auto it = data.constBegin(); it != data.constEnd(); ++it)
                out += QStringLiteral(" private:%1=%2").arg(it.key(), it.value().toString());
        }
        out += QStringLiteral(" naming=%1").arg(naming.fileNamingType());
        if (naming.usingDestinationFolder() && naming.destination())
            out += QStringLiteral(" folder=") + XStrToQString(naming.destination()->path());
        if (naming.fileNamingType() == FileNamingDynamic)
            out += QStringLiteral(" dynamic=") + naming.dynamicFormat();
        for (const QKDSPSpec& dsp : entry->dspEffects)
            out += QStringLiteral(" effect:%1=%2").arg(dsp.name, dsp.args);
        out += QLatin1Char('\n');
    }
    for (const KRAMultiEncKeptEntry& kept : config->keptEntries)
        out += QStringLiteral("kept after %1: %2\n").arg(kept.position).arg(kept.enc);
    out += QStringLiteral("multi=%1\n").arg(config->multiCPU ? 1 : 0);
    ToolWrite(ToBytes(out));
    return 0;
}

// The argument string the batch gives each file (one line per encoder of a multi-encoder
// batch), then "threads=N", the forced number of encoder slots (0: none).
int BatchArgs(int argc, char** argv)
{
    auto spec = std::make_shared<QKConversionSpec>();
    QString encoderName;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--encoder") && hasValue)
            encoderName = FromArg(argv[++i]);
        else if (!strcmp(argv[i], "--args") && hasValue)
            spec->EncoderArgsV2.strArgs = FromArg(argv[++i]);
        else if (!strcmp(argv[i], "--dsp") && hasValue)
            QKConversionSpec::splitDSPString(FromArg(argv[++i]), spec->dspEffects);
        else if (!strcmp(argv[i], "--effect") && hasValue)
            spec->dspEffects.append(EffectFromArg(argv[++i]));
        else
            return ToolFail(argv[0], std::string("unknown or incomplete option ") + argv[i]);
    }
    spec->Encoder = QKEncoderDesc::findEncoder(encoderName);
    if (!spec->Encoder)
        spec->Encoder = QKEncoderDesc::makeVideoCodec(encoderName, QString());

    const KRABatch batch(spec);
    QString out;
    if (spec->Encoder->isMultiEncoder()) {
        const KRAMultiEncConfigRef config = KRAMultiEncConfig::fromArgs(spec->EncoderArgsV2);
        for (const KRAMultiEncEntryRef& entry : config->entries)
            out += batch.multiCommandLine(entry.get()) + QLatin1Char('\n');
    } else {
        out += batch.commandLine() + QLatin1Char('\n');
    }
    out += QStringLiteral("threads=%1\n").arg(batch.userThreadCount());
    ToolWrite(ToBytes(out));
    return 0;
}

// Prints what the actions report: error lines on standard error, remembered for the exit
// code.
class PrintingCallback : public KRAStatusCallback {
public:
    bool hadError = false;
    void onLengthMS(uint64_t) override {}
    void onPercentDone(int) override {}
    void onFPS(double) override {}
    void onInfoLine(const QString& line) override { fprintf(stderr, "info: %s\n", ToBytes(line).c_str()); }
    void onErrorLine(const QString& line) override
    {
        hadError = true;
        fprintf(stderr, "error: %s\n", ToBytes(line).c_str());
    }
    void onAction(const QString&) override {}
};

// Runs the actions after a conversion of SRC (several: a concatenation) into DST. Exit code 1
// when an action reported an error.
int After(int argc, char** argv)
{
    int outcome = -1;
    QKDSPChain effects;
    QList<QUrl> sources;
    QUrl dest;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--success"))
            outcome = 1;
        else if (!strcmp(argv[i], "--failure"))
            outcome = 0;
        else if (!strcmp(argv[i], "--effect") && hasValue)
            effects.append(EffectFromArg(argv[++i]));
        else if (!strcmp(argv[i], "--src") && hasValue)
            sources.append(XFileURL(XStr::FromUTF8(argv[++i])));
        else if (!strcmp(argv[i], "--dst") && hasValue)
            dest = XFileURL(XStr::FromUTF8(argv[++i]));
        else
            return ToolFail(argv[0], std::string("unknown or incomplete option ") + argv[i]);
    }
    if (outcome < 0 || sources.isEmpty() || dest.isEmpty())
        return ToolFail(argv[0], "usage: after --success|--failure [--effect NAME=ARGS]... --src SRC... --dst DST");

    auto spec = std::make_shared<QKConversionSpec>();
    spec->dspEffects = effects;
    const KRABatch batch(spec);

    KRAProcessArg arg;
    if (sources.size() == 1) {
        arg.srcFrom = QKConvertSource::withURL(sources.first());
    } else {
        auto concat = std::make_shared<QKConvertSourceConcat>();
        concat->setConcatURLs(sources);
        arg.srcFrom = concat;
    }
    arg.urlTo = dest;
    auto callback = std::make_shared<PrintingCallback>();
    arg.callback = callback;
    arg.events = std::make_shared<KRAProcessEvents>();
    arg.specialActions2 = batch.prepareSpecialActions(nullptr);
    QKConvertProcessShared::conversionFinished(arg, outcome == 1);
    return callback->hadError ? 1 : 0;
}

const ToolCommand kMultiEncRoundTrip("multienc-roundtrip", "< MULTI-ENCODER-STRING", MultiEncRoundTrip);
const ToolCommand kMultiEncList("multienc-list", "< MULTI-ENCODER-STRING", MultiEncList);
const ToolCommand kBatchArgs("batch-args", "--encoder NAME [--args TEXT] [--dsp CHAIN] [--effect NAME=ARGS]...",
                             BatchArgs);
const ToolCommand kAfter("after", "--success|--failure [--effect NAME=ARGS]... --src SRC... --dst DST", After);

} // namespace
