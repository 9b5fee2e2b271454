// batch-tool: the batch converter's folder tree and profiles without a window.
//   list FOLDER [--recursive] [--filter-type EXT...] [--max-age DAYS]
//   collect --tick PATH[:recursive]... [--untick PATH]...
//   profile save NAME --tick PATH[:recursive]... | profile load NAME
#include "tools/common/ToolCommand.h"

#include "batch/KRABatchConverterProfile.h"
#include "batch/KRAFileFilter.h"
#include "batch/clFolderListEntry.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XMainQueue.h"
#include "xclass/XRegistry.h"

#include <QCoreApplication>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

void Setup()
{
    XSetAppDataFolder(L"MarvoniVideo");
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
}
const ToolSetup setup(Setup);

XMainQueue& Queue()
{
    static XMainQueue* queue = [] {
        auto* made = new XMainQueue();
        made->Install();
        return made;
    }();
    return *queue;
}

// Runs the main thread's queue until done() holds (or five minutes pass: a hang guard). It
// sleeps on the queue between deliveries, so a listing is timed by the tree, not by polling.
bool RunUntil(const std::function<bool()>& done)
{
    return Queue().RunUntil(done, 5 * 60 * 1000);
}

std::string PathText(const QString& path)
{
    return XStrFromQString(path).ToUTF8String();
}

// Standard output in large writes: a hundred thousand paths are not a hundred thousand write
// calls. Flushed before every exit path returns to the driver.
class Output {
public:
    ~Output() { flush(); }
    void add(const std::string& text)
    {
        m_buffer += text;
        if (m_buffer.size() >= (1u << 16))
            flush();
    }
    // A path and a line break, straight into the buffer when the path is plain ASCII (its own
    // UTF-8); other paths take the lossless way back to the bytes they were read from.
    void addLine(const QString& path)
    {
        const size_t start = m_buffer.size();
        for (const QChar c : path) {
            if (c.unicode() >= 0x80) {
                m_buffer.resize(start);
                add(PathText(path) + "\n");
                return;
            }
            m_buffer.push_back(static_cast<char>(c.unicode()));
        }
        add("\n");
    }
    void flush()
    {
        if (!m_buffer.empty())
            ToolWrite(m_buffer);
        m_buffer.clear();
    }

private:
    std::string m_buffer;
};

Output& Out()
{
    static Output output;
    return output;
}

// Flushes the buffered output when a command returns, whatever way it returns.
struct FlushAtEnd {
    ~FlushAtEnd() { Out().flush(); }
};

class Owner : public KRAFolderTreeOwner {
public:
    std::shared_ptr<KRAFileFilter> filter() const override { return m_filter; }
    QVariant currentSelection() const override { return m_selection; }
    void forgetSelection(const QString& path) override { clFolderListEntry::forgetInSelection(m_selection, path); }
    std::shared_ptr<KRAFileFilter> m_filter = std::make_shared<KRAFileFilter>();
    QVariant m_selection;
};

QString PathOf(const std::string& argument)
{
    return XStrToQString(XStr::FromUTF8(ToolAbsolutePath(argument).c_str()));
}

void PrintFiles(const std::vector<clFileListEntryRef>& files)
{
    for (const clFileListEntryRef& file : files)
        Out().addLine(file->path());
}

void ListTree(const clFolderListEntryRef& folder, bool recursive)
{
    folder->wantFiles();
    RunUntil([&] { return folder->filesLoaded() || !folder->accessError().isEmpty(); });
    PrintFiles(folder->files());
    if (!recursive)
        return;
    const std::vector<clFolderListEntryRef> children = folder->folders();
    // Asked for all at once, the sub-folders are listed by the tree's workers while the
    // earlier ones are printed, instead of one wait per folder.
    for (const clFolderListEntryRef& child : children)
        child->wantFiles();
    for (const clFolderListEntryRef& child : children)
        ListTree(child, true);
}

int List(int argc, char** argv)
{
    const FlushAtEnd flush;
    if (argc < 2)
        return ToolFail(argv[0], "FOLDER is needed");
    Queue();
    auto owner = std::make_shared<Owner>();
    QStringList types;
    bool recursive = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--recursive") {
            recursive = true;
        } else if (arg == "--max-age" && i + 1 < argc) {
            owner->m_filter->setFilterMeta(QStringLiteral("Date"), QSet<QString>{QString::fromUtf8(argv[++i])});
        } else if (arg == "--filter-type") {
            while (i + 1 < argc && argv[i + 1][0] != '-') {
                QString type = QString::fromUtf8(argv[++i]).toUpper();
                types << (type.startsWith(QLatin1Char('.')) ? type : QLatin1Char('.') + type);
            }
        } else if (folder.empty()) {
            folder = arg;
        } else {
            return ToolFail(argv[0], "unknown argument '" + arg + "'");
        }
    }
    if (!types.isEmpty())
        owner->m_filter->setFilterMeta(QStringLiteral("File Types"), QSet<QString>(types.begin(), types.end()));
    auto root = clFolderListEntry::rootForURL(XFileURL(XStrFromQString(PathOf(folder))), owner);
    root->globals()->loadInfoForColumns = false;
    ListTree(root, recursive);
    if (!root->accessError().isEmpty())
        return ToolFail(argv[0], PathText(root->path()) + ": " + root->accessError().toStdString());
    return 0;
}

// The tree node of a path below the root, listing the folders on the way.
clFolderListEntryRef NodeFor(const clFolderListEntryRef& root, const QString& path)
{
    if (path == root->path())
        return root;
    if (!path.startsWith(root->path() == QLatin1String("/") ? root->path() : root->path() + QLatin1Char('/')))
        return nullptr;
    clFolderListEntryRef node = root;
    const QString rest = path.mid(root->path().size());
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        node->getFoldersSynchronously(60000);
        node = node->subFolderAt(part);
        if (!node)
            return nullptr;
    }
    return node;
}

struct Ticks {
    std::vector<std::pair<QString, bool>> tick; // path, recursive
    std::vector<QString> untick;
};

// The roots of the ticked paths' tree, ticked. Files are ticked one by one (their folder is
// listed); folders recursively or on their own.
bool ApplyTicks(const clFolderListEntryRef& root, const Ticks& ticks, const char* name)
{
    auto setFile = [&](const QString& path, bool checked) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const clFolderListEntryRef folder = NodeFor(root, slash <= 0 ? QStringLiteral("/") : path.left(slash));
        if (!folder)
            return false;
        folder->wantFiles();
        RunUntil([&] { return folder->filesLoaded() || !folder->accessError().isEmpty(); });
        for (const clFileListEntryRef& file : folder->files())
            if (file->path() == path) {
                file->setChecked(checked);
                return true;
            }
        return false;
    };
    for (const auto& [path, recursive] : ticks.tick) {
        if (const clFolderListEntryRef node = NodeFor(root, path))
            node->setCheckState(recursive ? Recursive : NonRecursive);
        else if (!setFile(path, true))
            return ToolFail(name, "cannot tick '" + PathText(path) + "'") == 0;
    }
    for (const QString& path : ticks.untick) {
        if (const clFolderListEntryRef node = NodeFor(root, path))
            node->setCheckState(Unchecked);
        else if (!setFile(path, false))
            return ToolFail(name, "cannot untick '" + PathText(path) + "'") == 0;
    }
    return true;
}

bool ReadTicks(int argc, char** argv, int first, Ticks& ticks)
{
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--tick" || arg == "--untick") && i + 1 < argc) {
            std::string value = argv[++i];
            bool recursive = false;
            if (arg == "--tick" && value.size() > 10 && value.compare(value.size() - 10, 10, ":recursive") == 0) {
                recursive = true;
                value.resize(value.size() - 10);
            }
            if (arg == "--tick")
                ticks.tick.emplace_back(PathOf(value), recursive);
            else
                ticks.untick.push_back(PathOf(value));
        } else {
            ToolFail(argv[0], "unknown argument '" + arg + "'");
            return false;
        }
    }
    return true;
}

// The whole computer as one tree, with the ticks of the arguments from first on; none (after
// a message) when they cannot be read or applied.
clFolderListEntryRef TickedTree(int argc, char** argv, int first, int* status)
{
    Ticks ticks;
    *status = 2;
    if (!ReadTicks(argc, argv, first, ticks))
        return nullptr;
    static const auto owner = std::make_shared<Owner>();
    auto root = clFolderListEntry::rootForURL(XFileURL(XStr(L"/")), owner);
    root->globals()->loadInfoForColumns = false;
    *status = 1;
    if (!ApplyTicks(root, ticks, argv[0]))
        return nullptr;
    *status = 0;
    return root;
}

class PrintSink : public KRACollectSink {
public:
    bool aborting() const override { return false; }
    void addFile(const clFileListEntryRef& file) override { Out().addLine(file->path()); }
};

int Collect(int argc, char** argv)
{
    const FlushAtEnd flush;
    Queue();
    int status = 0;
    const clFolderListEntryRef root = TickedTree(argc, argv, 1, &status);
    if (!root)
        return status;
    PrintSink sink;
    std::thread worker([&] { root->collectCheckedFiles(sink); });
    worker.join();
    return 0;
}

int Profile(int argc, char** argv)
{
    const FlushAtEnd flush;
    Queue();
    if (argc < 3)
        return ToolFail(argv[0], "save NAME --tick ... | load NAME");
    const std::string verb = argv[1];
    const QString name = QString::fromUtf8(argv[2]);
    if (verb == "load") {
        const KRABatchConverterProfileRef profile = KRABatchConverterProfile::profileByName(name);
        if (!profile->lastError().isEmpty())
            fprintf(stderr, "%s: %s\n", ToolName(), profile->lastError().toUtf8().constData());
        const QVariantMap selection = profile->selection.toMap();
        for (auto it = selection.begin(); it != selection.end(); ++it)
            Out().add(PathText(it.key()) + "\t" + it.value().toString().toStdString() + "\n");
        return 0;
    }
    if (verb != "save")
        return ToolFail(argv[0], "unknown verb '" + verb + "'");
    int status = 0;
    const clFolderListEntryRef root = TickedTree(argc, argv, 3, &status);
    if (!root)
        return status;
    QVariantMap selection;
    root->collectSelectionData(selection);
    auto profile = KRABatchConverterProfile::newProfileNamed(name);
    profile->selection = selection;
    if (!profile->save())
        return ToolFail(argv[0], profile->lastError().toStdString());
    Out().add(PathText(KRABatchConverterProfile::profilePath(name)) + "\n");
    return 0;
}

const ToolCommand kList("list", "FOLDER [--recursive] [--filter-type EXT...] [--max-age DAYS]", List);
const ToolCommand kCollect("collect", "--tick PATH[:recursive]... [--untick PATH]...", Collect);
const ToolCommand kProfile("profile", "save NAME --tick PATH[:recursive]... [--untick PATH]... | load NAME", Profile);

} // namespace
