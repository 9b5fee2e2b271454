// The destination check of a batch from the outside: one line per output of SOURCE... for
// every --encoder (repeat it for a multi-encoder set): "OK DEST", "EXISTS DEST", "CONFLICT
// DEST" (two or more outputs of the batch name it), "SAME DEST" (the destination is the source
// itself) or "EMPTY SOURCE" (no destination could be made).
#include "tools/common/ToolCommand.h"

#include <unistd.h>

#include <string>
#include <vector>

#include "job/QKEncoderDesc.h"
#include "naming/KRACheckFilenames.h"
#include "naming/KRAFileNaming.h"
#include "naming/KRALocationDescriptor.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

XStr Absolute(const std::string& path)
{
    return XStr::FromUTF8(ToolAbsolutePath(path));
}

int Check(int argc, char** argv)
{
    std::vector<std::string> encoders, sources;
    std::string type = "0", folder, pattern, extension;
    bool haveFolder = false, havePattern = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--encoder") {
            if (!value(text))
                return ToolFail(argv[0], "--encoder needs a NAME");
            encoders.push_back(text);
        } else if (arg == "--type") {
            if (!value(type) || type.empty() || type.find_first_not_of("0123") != std::string::npos)
                return ToolFail(argv[0], "--type needs 0, 1 or 2");
        } else if (arg == "--folder") {
            if (!value(folder))
                return ToolFail(argv[0], "--folder needs a value");
            haveFolder = true;
        } else if (arg == "--template") {
            if (!value(pattern))
                return ToolFail(argv[0], "--template needs a value");
            havePattern = true;
        } else if (arg == "--ext") {
            if (!value(extension))
                return ToolFail(argv[0], "--ext needs a value");
        } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            return ToolFail(argv[0], "unknown argument '" + arg + "'");
        } else {
            sources.push_back(arg);
        }
    }
    if (sources.empty())
        return ToolFail(argv[0], "at least one SOURCE is needed");

    auto naming = std::make_shared<KRAFileNaming>();
    naming->setFileNamingType(std::stoull(type));
    if (haveFolder)
        naming->setDestination(KRALocationDescriptor::withFolderPath(Absolute(folder)));
    if (havePattern)
        naming->setDynamicFormat(QString::fromStdString(pattern));

    QList<KRACheckEncoderItem> items;
    if (encoders.empty())
        encoders.push_back(std::string());
    for (const std::string& name : encoders) {
        KRACheckEncoderItem item;
        item.encoder = name.empty() ? nullptr : QKEncoderDesc::findEncoder(QString::fromStdString(name));
        if (!name.empty() && !item.encoder)
            return ToolFail(argv[0], "no encoder is called '" + name + "'");
        if (!item.encoder)
            item.encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Any"), QString());
        if (!extension.empty())
            item.args.customFormatExt = QString::fromStdString(extension);
        item.naming = naming->copy();
        items.append(item);
    }
    QList<KRACheckSourceItem> sourceItems;
    for (const std::string& source : sources) {
        KRACheckSourceItem item;
        item.namingURL = XFileURL(Absolute(source));
        sourceItems.append(item);
    }

    const KRACheckFilenamesStateRef state = KRACheckFilenames::run(sourceItems, items, 4);
    const KRACheckClashes clashes = state->clashes();
    const auto pathOf = [](const QUrl& url) { return XPathFromFileURL(url).ToUTF8String(); };
    for (const KRACheckFileNamesEntryRef& entry : state->entries) {
        const std::string destination = pathOf(entry->destination);
        switch (KRACheckFilenamesState::problemOf(*entry, clashes)) {
        case KRACheckFilenamesState::Problem::NoDestination:
            ToolWrite("EMPTY " + pathOf(entry->namingURL) + "\n");
            break;
        case KRACheckFilenamesState::Problem::SameAsSource:
            ToolWrite("SAME " + destination + "\n");
            break;
        case KRACheckFilenamesState::Problem::OtherSource:
            ToolWrite("SOURCE " + destination + " is the source " + pathOf(clashes.sourceHit(*entry)->namingURL) +
                      "\n");
            break;
        case KRACheckFilenamesState::Problem::Conflict: {
            const KRACheckFileNamesEntry* other = clashes.otherDestination(*entry);
            ToolWrite("CONFLICT " + destination + " is the same file as " + pathOf(other->destination) + " from " +
                      pathOf(other->namingURL) + "\n");
            break;
        }
        case KRACheckFilenamesState::Problem::None:
            ToolWrite((state->alreadyExists.contains(entry->destination) ? "EXISTS " : "OK ") + destination + "\n");
            break;
        }
    }
    return 0;
}

const ToolCommand kCheck("check", "[--encoder NAME]... [--type 0|1|2] [--folder F] [--template P] [--ext .E] SOURCE...",
                         Check);

} // namespace
