// Profiles in the store named by XCLASS_XREGISTRY_LOCATION, as the converter setup keeps them:
//
//   profile set NAME [--encoder E] [--args A] [--ext X] [--dsp CHAIN] [--dest FOLDER]
//                    [--pattern P] [--batch B]
//   profile get NAME [--encoder E] [--batch B]     one key=value a line
//   profile list [--full]                          user profiles by the user's text
//   profile delete NAME [--encoder E]
//
// NAME is an encoder's name (that encoder's profile), a stored user profile's whole name, or
// the user's text of a user profile; a new user profile takes --encoder, else the custom
// command-line encoder.
#include "tools/common/ToolCommand.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>

#include "job/QKEncoderDesc.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "setup/KRAProfile.h"
#include "xclass/XRegistry.h"
#include "xclass/XRegistryTransaction.h"

namespace {

const char kDefaultUserEncoder[] = "[Custom FFmpeg settings]";

std::string Field(const QString& text)
{
    QString clean = text;
    clean.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    clean.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    clean.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    clean.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return clean.toStdString();
}

// Backslashes stay as they are in names: a user profile's name is printed as it is stored.
std::string NameField(const QString& text)
{
    QString clean = text;
    clean.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    clean.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return clean.toStdString();
}

struct Options {
    std::map<std::string, std::string> values;
    bool full = false;
    QString name;
    bool haveName = false;
};

bool ParseOptions(int argc, char** argv, int first, Options& options, std::string& error)
{
    static const char* const kValued[] = {"--encoder", "--args", "--ext", "--dsp", "--dest", "--pattern", "--batch"};
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        bool valued = false;
        for (const char* name : kValued)
            if (arg == name)
                valued = true;
        if (valued) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            options.values[arg] = argv[++i];
        } else if (arg == "--full") {
            options.full = true;
        } else if (!options.haveName && (arg.rfind("--", 0) != 0 || arg.size() == 2)) {
            options.name = QString::fromUtf8(argv[i]);
            options.haveName = true;
        } else {
            error = "unknown argument '" + arg + "'";
            return false;
        }
    }
    return true;
}

std::optional<QString> Value(const Options& options, const char* name)
{
    const auto it = options.values.find(name);
    if (it == options.values.end())
        return std::nullopt;
    return QString::fromUtf8(it->second.c_str());
}

QStringList StoredNames()
{
    XStrList names;
    XRegistry::EnumKeys(KRAProfile::registryRoot(), KRAProfile::rootRegPath().p, &names);
    QStringList out;
    for (int64_t i = 0; i < names.Count(); ++i)
        out.append(XStrToQString(names[i]));
    return out;
}

// The stored or composed profile name NAME stands for; empty with error set when it cannot
// be told.
QString ResolveName(const Options& options, bool creating, std::string& error)
{
    const QString& name = options.name;
    const std::optional<QString> encoder = Value(options, "--encoder");
    if (QKEncoderDesc::findEncoder(name) && !encoder)
        return name;
    if (KRAProfile::isUserProfileName(name))
        return name;
    QString asStored = KRAProfile::cleanUserText(name);
    asStored.replace(QLatin1Char('"'), QStringLiteral("''"));
    QStringList matches;
    for (const QString& stored : StoredNames()) {
        const std::optional<QString> text = KRAProfile::userProfileNameOf(stored);
        if (text && *text == asStored && (!encoder || KRAProfile::encoderNameOf(stored) == *encoder))
            matches.append(stored);
    }
    if (matches.size() == 1)
        return matches.first();
    if (matches.size() > 1) {
        error = "'" + name.toStdString() + "' names several profiles: give --encoder";
        return QString();
    }
    if (!creating) {
        error = "no profile is called '" + name.toStdString() + "'";
        return QString();
    }
    const QString encoderName = encoder.value_or(QString::fromLatin1(kDefaultUserEncoder));
    if (!QKEncoderDesc::findEncoder(encoderName)) {
        error = "no encoder is called '" + encoderName.toStdString() + "'";
        return QString();
    }
    const QString problem = KRAProfile::userTextProblem(name);
    if (!problem.isEmpty()) {
        error = problem.toStdString();
        return QString();
    }
    return KRAProfile::composeUserProfileName(KRAProfile::cleanUserText(name), encoderName);
}

std::optional<QString> BatchOf(const Options& options)
{
    return Value(options, "--batch");
}

int ProfileSet(const char* command, const Options& options)
{
    std::string error;
    const QString name = ResolveName(options, true, error);
    if (name.isEmpty())
        return ToolFail(command, error);
    if (const std::optional<QString> batch = BatchOf(options)) {
        const QString problem = KRAProfile::batchProfileNameProblem(*batch);
        if (!problem.isEmpty())
            return ToolFail(command, problem.toStdString());
    }
    KRAProfileRef profile = KRAProfile::profileNamed(name, BatchOf(options));
    profile->fetchFromRegistry();
    if (const std::optional<QString> args = Value(options, "--args"))
        profile->encoderArgsV2.strArgs = *args;
    if (const std::optional<QString> ext = Value(options, "--ext"))
        profile->encoderArgsV2.customFormatExt = ext->isEmpty() ? std::nullopt : ext;
    if (const std::optional<QString> dsp = Value(options, "--dsp"))
        profile->setDspString(*dsp);
    const std::optional<QString> dest = Value(options, "--dest");
    const std::optional<QString> pattern = Value(options, "--pattern");
    if (dest || pattern) {
        profile->fileNaming->setFileNamingType(FileNamingDynamic);
        if (dest) {
            const KRALocationDescriptorRef folder = KRALocationDescriptor::withFolderPath(XStrFromQString(*dest));
            if (folder->path().IsEmpty())
                return ToolFail(command, "--dest needs an absolute folder path");
            profile->fileNaming->setDestination(folder);
        }
        if (pattern)
            profile->fileNaming->setDynamicFormat(*pattern);
    }
    profile->onDSPChanged();
    profile->onEncoderChanged();
    if (!profile->saveProfile())
        return ToolFail(command, "the store could not be written");
    ToolWrite(NameField(name) + "\n");
    return 0;
}

int ProfileGet(const char* command, const Options& options)
{
    std::string error;
    const QString name = ResolveName(options, false, error);
    if (name.isEmpty())
        return ToolFail(command, error);
    KRAProfileRef profile = KRAProfile::profileNamed(name, BatchOf(options));
    profile->fetchFromRegistry();
    ToolWrite("name=" + NameField(profile->profileName) + "\n");
    ToolWrite("encoder=" + Field(profile->encoderName) + "\n");
    ToolWrite("args=" + Field(profile->encoderArgsV2.strArgs) + "\n");
    ToolWrite("ext=" + Field(profile->encoderArgsV2.customFormatExt.value_or(QString())) + "\n");
    ToolWrite("dsp=" + Field(profile->storedDspString()) + "\n");
    const KRAFileNaming& naming = *profile->fileNaming;
    ToolWrite("type=" + std::to_string(naming.fileNamingType()) + "\n");
    const QString dest = naming.destination() ? XStrToQString(naming.destination()->path()) : QString();
    ToolWrite("dest=" + Field(dest) + "\n");
    ToolWrite("pattern=" + Field(naming.dynamicFormat()) + "\n");
    if (profile->encoderArgsV2.frontendData)
        for (auto it = profile->encoderArgsV2.frontendData->constBegin();
             it != profile->encoderArgsV2.frontendData->constEnd(); ++it)
            ToolWrite("frontend." + Field(it.key()) + "=" + Field(it.value().toString()) + "\n");
    return 0;
}

int ProfileList(const Options& options)
{
    for (const QString& stored : StoredNames()) {
        const std::optional<QString> text = KRAProfile::userProfileNameOf(stored);
        ToolWrite(NameField(options.full || !text ? stored : *text) + "\n");
    }
    return 0;
}

int ProfileDelete(const char* command, const Options& options)
{
    std::string error;
    const QString name = ResolveName(options, false, error);
    if (name.isEmpty())
        return ToolFail(command, error);
    if (!StoredNames().contains(name))
        return ToolFail(command, "no profile is stored as '" + name.toStdString() + "'");
    XRegistryTransaction transaction;
    KRAProfile::profileNamed(name, std::nullopt)->deleteFromRegistry(transaction);
    if (!transaction.Commit())
        return ToolFail(command, "the store could not be written");
    return 0;
}

int Profile(int argc, char** argv)
{
    if (argc < 2)
        return ToolFail(argv[0], "set, get, list or delete is needed");
    const std::string verb = argv[1];
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, 2, options, error))
        return ToolFail(argv[0], error);
    if (verb == "list")
        return options.haveName ? ToolFail(argv[0], "list takes no NAME") : ProfileList(options);
    if (!options.haveName)
        return ToolFail(argv[0], verb + " needs a NAME");
    if (verb == "set")
        return ProfileSet(argv[0], options);
    if (verb == "get")
        return ProfileGet(argv[0], options);
    if (verb == "delete")
        return ProfileDelete(argv[0], options);
    return ToolFail(argv[0], "unknown verb '" + verb + "'");
}

const ToolCommand kProfile("profile",
                           "set|get|list|delete [NAME] [--encoder E] [--args A] [--ext X] "
                           "[--dsp CHAIN] [--dest FOLDER] [--pattern P] [--batch B] [--full]",
                           Profile);

} // namespace
