#include "naming/KRAFileNaming.h"

#include <climits>
#include <string>
#include <vector>

#include "job/QKEncoderDesc.h"
#include "kit/QKStringTools.h"
#include "media/QKMediaFileInfo.h"
#include "naming/NamingTemplate.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XBuffer.h"
#include "xclass/XFileName.h"
#include "xclass/XRegistry.h"
#include "xclass/XRegistryTransaction.h"
#include "xclass/XTime.h"

namespace {

const wchar_t kRoot[] = L"HKCU";
const wchar_t kDefaultPairs[] = L"/-:;";
const wchar_t kSameFolderPattern[] = L"[origpath]/[origfilename]";
constexpr int kRecentCount = 10;
// The longest path the system takes, in bytes, without its terminator.
constexpr size_t kMaxPathBytes = PATH_MAX - 1;
// A file name component stays below the 255-byte limit of Linux file systems.
constexpr size_t kMaxComponentBytes = 249;

XStr SourcePathOf(const QUrl& source)
{
    return KRANormalizeAbsolutePath(XPathFromFileURL(source));
}

size_t Utf8Length(const std::wstring& text)
{
    size_t bytes = 0;
    for (wchar_t c : text) {
        const uint32_t u = static_cast<uint32_t>(c);
        if (u >= 0xDC80 && u <= 0xDCFF)
            bytes += 1; // a byte of a name that is not UTF-8, written back as itself
        else
            bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : 4;
    }
    return bytes;
}

void CutToBytes(std::wstring& text, size_t maxBytes)
{
    while (!text.empty() && Utf8Length(text) > maxBytes)
        text.pop_back();
}

// One folder component of the part below the destination folder: "." and ".." (and names
// made only of dots and blanks) can never be followed out of the folder.
std::wstring GuardFolderComponent(std::wstring component)
{
    for (wchar_t& c : component)
        if (static_cast<uint32_t>(c) <= 30)
            c = L'_';
    if (component.find_first_not_of(L". ") == std::wstring::npos)
        return L"_";
    CutToBytes(component, kMaxComponentBytes);
    return component;
}

// The file name: no leading dots or blanks (no hidden outputs), within the name limit with
// its extension kept.
std::wstring GuardFileName(std::wstring name)
{
    for (wchar_t& c : name)
        if (static_cast<uint32_t>(c) <= 30)
            c = L'_';
    const size_t keep = name.find_first_not_of(L". ");
    name = keep == std::wstring::npos ? std::wstring(L"_") : name.substr(keep);
    if (Utf8Length(name) > kMaxComponentBytes) {
        const size_t dot = name.rfind(L'.');
        std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
        if (Utf8Length(extension) + 1 >= kMaxComponentBytes)
            extension.clear();
        std::wstring stem = name.substr(0, name.size() - extension.size());
        CutToBytes(stem, kMaxComponentBytes - Utf8Length(extension));
        name = stem + extension;
    }
    return name;
}

// Drops characters from the end of text, keeping at least keep of them, until excess bytes
// are gone; excess is lowered by what was dropped.
void Shorten(std::wstring& text, size_t keep, size_t& excess)
{
    while (excess > 0 && text.size() > keep) {
        const size_t bytes = Utf8Length(std::wstring(1, text.back()));
        text.pop_back();
        excess = excess > bytes ? excess - bytes : 0;
    }
}

// folder (absolute, normalised) joined with the relative path below it. Empty components go;
// the result always lies inside folder. When it is too long for the system, the file name is
// shortened first, then the folders below folder (never folder itself). Empty when nothing
// names a file or the path cannot be brought within the limit.
XStr JoinInside(const XStr& folder, const XStr& subPath)
{
    std::vector<std::wstring> components;
    const std::wstring_view text = subPath.View();
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find(L'/', i);
        if (end == std::wstring_view::npos)
            end = text.size();
        if (end > i)
            components.emplace_back(text.substr(i, end - i));
        i = end + 1;
    }
    if (components.empty())
        return XStr();
    const std::wstring base = folder == L"/" ? std::wstring() : std::wstring(folder.View());
    const std::wstring name = GuardFileName(components.back());
    components.pop_back();
    for (std::wstring& component : components)
        component = GuardFolderComponent(component);

    size_t total = Utf8Length(base) + 1 + Utf8Length(name);
    for (const std::wstring& component : components)
        total += 1 + Utf8Length(component);
    const size_t dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
    std::wstring stem = name.substr(0, name.size() - extension.size());
    if (total > kMaxPathBytes) {
        size_t excess = total - kMaxPathBytes;
        Shorten(stem, 60, excess);
        for (size_t k = components.size(); k-- > 0 && excess > 0;) {
            Shorten(components[k], 1, excess);
            components[k] = GuardFolderComponent(components[k]);
        }
        Shorten(stem, 1, excess);
        if (excess > 0)
            return XStr();
    }
    std::wstring out = base;
    for (const std::wstring& component : components)
        out += L"/" + component;
    out += L"/" + stem + extension;
    return XStr(std::wstring_view(out));
}

// True when the last component of path (behind its last "/") names nothing: it is empty or
// holds only dots and blanks, which the name checks strip.
bool NamesNothing(const XStr& path)
{
    const std::wstring_view text = path.View();
    const size_t slash = text.rfind(L'/');
    const std::wstring_view name = slash == std::wstring_view::npos ? text : text.substr(slash + 1);
    return name.find_first_not_of(L". ") == std::wstring_view::npos;
}

// path with its last component replaced by name.
XStr WithName(const XStr& path, const XStr& name)
{
    const std::wstring_view text = path.View();
    const size_t slash = text.rfind(L'/');
    return slash == std::wstring_view::npos ? name : XStr(text.substr(0, slash + 1)) + name;
}

// The name check of a full path, on what the naming puts below the folder: the default
// replacement pairs, control characters, over-long names, leading dots and blanks (the
// path limit is JoinInside's). Folders that exist are kept as they are: the destination
// folder, and a leading copy of the source's own folder (the "[origpath]" head), since
// changing them would put the output into another folder.
XStr CheckBelowFolder(const XStr& subPath, const XStr& sourcePath)
{
    const std::wstring_view text = subPath.View();
    size_t kept = 0;
    if (!sourcePath.IsEmpty()) {
        const XStr sourceFolder = XFileName(sourcePath).GetFolder();
        if (text.substr(0, sourceFolder.View().size()) == sourceFolder.View())
            kept = sourceFolder.View().size();
    }
    XFileName below{XStr(text.substr(kept))};
    below.MakeValid(false, kDefaultPairs, true, false);
    return XStr(text.substr(0, kept)) + below;
}

XStr Padded(unsigned value, int width)
{
    std::wstring text = std::to_wstring(value);
    while (static_cast<int>(text.size()) < width)
        text.insert(text.begin(), L'0');
    return XStr(std::wstring_view(text));
}

XStr RecentValueName(int n)
{
    return XStr(L"kRALastFolder-") + XStr::FromLong(n);
}

} // namespace

// ---- Construction ----------------------------------------------------------------------------

KRAFileNaming::KRAFileNaming()
    : m_dynamicFormat(defaultDynamicFormat()), m_destination(KRALocationDescriptor::withDefaultFolder())
{
    loadGlobals(nullptr);
}

KRAFileNaming::KRAFileNaming(XRegistry& snapshot)
    : m_dynamicFormat(defaultDynamicFormat()), m_destination(KRALocationDescriptor::withDefaultFolder())
{
    loadGlobals(&snapshot);
}

void KRAFileNaming::loadGlobals(XRegistry* snapshot)
{
    XStr pairs = snapshot ? snapshot->ReadString(L"kRAFileNameChrReplace", nullptr, nullptr, nullptr)
                          : XRegistry::GetString(L"kRAFileNameChrReplace");
    if (pairs.IsEmpty())
        pairs = kDefaultPairs;
    m_characterReplacement = XStrToQString(pairs);
    const uint32_t ansi = snapshot ? snapshot->ReadDWORD(L"kRAFileNameANSIFilenameOnly", nullptr, nullptr, nullptr)
                                   : XRegistry::GetDWORD(L"kRAFileNameANSIFilenameOnly");
    m_ansiOnly = ansi != 0;
}

KRAFileNaming::KRAFileNaming(const KRAFileNaming& other)
{
    copyFrom(other);
}

KRAFileNaming& KRAFileNaming::operator=(const KRAFileNaming& other)
{
    copyFrom(other);
    return *this;
}

KRAFileNamingRef KRAFileNaming::initWithRegKey(const XStr& keyPath)
{
    auto naming = std::make_shared<KRAFileNaming>();
    naming->loadFromRegKey(keyPath, nullptr);
    return naming;
}

KRAFileNamingRef KRAFileNaming::initWithRegKeyR16(const XStr& keyPath, XRegistry& snapshot)
{
    auto naming = std::make_shared<KRAFileNaming>(snapshot);
    naming->loadFromRegKey(keyPath, &snapshot);
    naming->convertToR16Dynamic();
    return naming;
}

KRAFileNamingRef KRAFileNaming::initWithRegKeyR16(const XStr& keyPath)
{
    KRAFileNamingRef naming = initWithRegKey(keyPath);
    naming->convertToR16Dynamic();
    return naming;
}

void KRAFileNaming::loadFromRegKey(const XStr& keyPath, XRegistry* snapshot)
{
    // Up to a first NUL: that is all a save can write back.
    const auto readString = [&](const wchar_t* name) {
        const XStr value =
            snapshot ? snapshot->ReadString(name, kRoot, keyPath, nullptr) : XRegistry::GetString(name, kRoot, keyPath);
        return XStr(value.p);
    };
    const XStr folderText = readString(L"KRAUserFolderStr");
    XBuffer data;
    if (snapshot ? snapshot->ReadBinary(L"KRAUserFolderData", &data, kRoot, keyPath)
                 : XRegistry::GetBinary(L"KRAUserFolderData", &data, kRoot, keyPath)) {
        const QByteArray bookmark(reinterpret_cast<const char*>(data.Data), static_cast<qsizetype>(data.Used));
        const QString friendly = XStrToQString(readString(L"KRAUserFolderFriendlyName"));
        const XStr lastKnown = KRANormalizeAbsolutePath(folderText);
        m_destination =
            KRALocationDescriptor::withBookmark(bookmark, friendly, lastKnown.IsEmpty() ? QUrl() : XFileURL(lastKnown));
    } else if (!folderText.IsEmpty()) {
        m_destination = KRALocationDescriptor::withFolderPath(folderText);
    }
    data.Free();
    const XStr pattern = readString(L"KRADynamicNaming");
    if (!pattern.IsEmpty())
        m_dynamicFormat = XStrToQString(pattern);
    bool notFound = false;
    const uint32_t type = snapshot ? snapshot->ReadDWORD(L"KRAUserFolder", kRoot, keyPath, &notFound)
                                   : XRegistry::GetDWORD(L"KRAUserFolder", kRoot, keyPath, &notFound);
    if (!notFound)
        m_type = type > FileNamingUseParentConfig_DEPRECATED ? uint64_t(FileNamingSourceFolder) : uint64_t(type);
}

void KRAFileNaming::serializeToRegKey(const XStr& keyPath, XRegistryTransaction& transaction) const
{
    if (m_destination) {
        const XStr folder = m_destination->path();
        if (!folder.IsEmpty())
            transaction.SetString(folder, L"KRAUserFolderStr", kRoot, keyPath);
        else
            transaction.DeleteValue(L"KRAUserFolderStr", kRoot, keyPath);
        transaction.SetString(XStrFromQString(m_destination->friendlyName()), L"KRAUserFolderFriendlyName", kRoot,
                              keyPath);
        const QByteArray bookmark = m_destination->bookmark();
        transaction.SetBinary(L"KRAUserFolderData", bookmark.constData(), static_cast<size_t>(bookmark.size()), kRoot,
                              keyPath);
    } else {
        transaction.DeleteValue(L"KRAUserFolderStr", kRoot, keyPath);
        transaction.DeleteValue(L"KRAUserFolderFriendlyName", kRoot, keyPath);
        transaction.DeleteValue(L"KRAUserFolderData", kRoot, keyPath);
    }
    transaction.SetString(XStrFromQString(m_dynamicFormat), L"KRADynamicNaming", kRoot, keyPath);
    transaction.SetDWORD(static_cast<uint32_t>(m_type), L"KRAUserFolder", kRoot, keyPath);
}

bool KRAFileNaming::convertToR16Dynamic()
{
    switch (m_type) {
    case FileNamingSingleFolder:
        m_type = FileNamingDynamic;
        m_dynamicFormat = QStringLiteral("[origfilename]");
        return true;
    case FileNamingSourceFolder:
    case FileNamingUseParentConfig_DEPRECATED:
        m_type = FileNamingDynamic;
        m_destination = KRALocationDescriptor::root();
        m_dynamicFormat = QString::fromWCharArray(kSameFolderPattern);
        return true;
    default:
        return false;
    }
}

KRAFileNamingRef KRAFileNaming::namingSameFolder()
{
    auto naming = std::make_shared<KRAFileNaming>();
    naming->m_type = FileNamingSourceFolder;
    naming->convertToR16Dynamic();
    return naming;
}

KRAFileNamingRef KRAFileNaming::namingSingleFolder(const QUrl& folder)
{
    return namingSingleFolderLoc(KRALocationDescriptor::withURL(folder));
}

KRAFileNamingRef KRAFileNaming::namingSingleFolderLoc(const KRALocationDescriptorRef& folder)
{
    auto naming = std::make_shared<KRAFileNaming>();
    naming->m_type = FileNamingSingleFolder;
    naming->m_destination = folder;
    naming->convertToR16Dynamic();
    return naming;
}

KRAFileNamingRef KRAFileNaming::namingPreservePath(const QUrl& folder)
{
    auto naming = std::make_shared<KRAFileNaming>();
    naming->m_type = FileNamingDynamic;
    naming->m_destination = KRALocationDescriptor::withURL(folder);
    naming->m_dynamicFormat = QString::fromWCharArray(kSameFolderPattern);
    return naming;
}

KRAFileNamingRef KRAFileNaming::copy() const
{
    return std::make_shared<KRAFileNaming>(*this);
}

void KRAFileNaming::copyFrom(const KRAFileNaming& other)
{
    if (&other == this)
        return;
    m_type = other.m_type;
    m_dynamicFormat = other.m_dynamicFormat;
    m_dspEffectsString = other.m_dspEffectsString;
    m_encoderName = other.m_encoderName;
    m_encoderExtra = other.m_encoderExtra;
    m_destination = other.m_destination ? other.m_destination->copy() : nullptr;
    m_characterReplacement = other.m_characterReplacement;
    m_ansiOnly = other.m_ansiOnly;
}

bool KRAFileNaming::isEqualTo(const KRAFileNaming* other) const
{
    if (!other)
        return false;
    if (other == this)
        return true;
    if (m_type != other->m_type || m_dynamicFormat != other->m_dynamicFormat || m_ansiOnly != other->m_ansiOnly ||
        m_characterReplacement != other->m_characterReplacement)
        return false;
    if (!m_destination || !other->m_destination)
        return !m_destination && !other->m_destination;
    return m_destination->isEqualTo(other->m_destination.get());
}

// ---- Derived -------------------------------------------------------------------------------

QString KRAFileNaming::destinationFolderName() const
{
    return m_destination ? m_destination->friendlyName() : QString();
}

bool KRAFileNaming::needsMetaFromFiles() const
{
    return m_type == FileNamingDynamic && NamingTemplateUsesTags(XStrFromQString(m_dynamicFormat));
}

// ---- Paths ---------------------------------------------------------------------------------

std::optional<QString> KRAFileNaming::subPathForSource(const QUrl& source, const QKMediaFileInfo* info) const
{
    const XStr sourcePath = SourcePathOf(source);
    if (m_type == FileNamingSourceFolder || m_type == FileNamingSingleFolder) {
        if (sourcePath.IsEmpty())
            return std::nullopt;
        return XStrToQString(XFileName(sourcePath).GetFileNameNoExt());
    }
    if (m_type != FileNamingDynamic)
        return std::nullopt;

    const XStr pattern = XStrFromQString(m_dynamicFormat);
    NTag tags;
    if (NamingTemplateUsesTags(pattern)) {
        if (!info)
            return std::nullopt;
        const QKTagRef idTags = info->IDTags();
        const QKTagRef props = info->MediaProps();
        if (idTags)
            tags = *idTags->tag();
        if (props) {
            const NTag* properties = props->tag();
            for (int64_t i = 0; i < properties->Count(); i++) {
                const STInternalTag* element = properties->TagAt(i);
                if (element && !tags.FindTag(element->Name))
                    tags.AddTagCopy(*element);
            }
            const XStr encoder = properties->GetValue(L"encoder");
            if (!encoder.IsEmpty()) {
                XStr plus = encoder;
                const XStr settings = properties->GetValue(L"encoder settings");
                if (!settings.IsEmpty())
                    plus += XStr(L" ") + settings;
                tags.SetValue(L"encoder+", plus);
            }
        }
    }

    addDateFieldsTo(tags);

    if (m_encoderName || m_encoderExtra) {
        const QString name = m_encoderName.value_or(QString());
        const QString extra = m_encoderExtra.value_or(QString());
        tags.SetValue(L"encoder", XStrFromQString(name));
        QString plus = name;
        if (!name.isEmpty() && !extra.isEmpty())
            plus += QLatin1Char(' ');
        plus += extra;
        tags.SetValue(L"encoder+", XStrFromQString(plus));
        if (const QKEncoderDescRef desc = QKEncoderDesc::findEncoder(name)) {
            if (const std::unique_ptr<QKEncoderInstance> page = desc->instantiate()) {
                const QVariant kbps = page->kBitrateFor(info ? XStrToQString(info->path()) : QString(), extra);
                if (kbps.isValid() && !kbps.toString().isEmpty())
                    tags.SetValue(L"k_bitrate", XStrFromQString(kbps.toString()));
            }
        }
    }

    // Only the source itself says where it is: origin elements among the file's own tags
    // (a tag named "subpath" holding "../..") are dropped before the source's are added.
    AddNamingOriginFields(tags, sourcePath);
    if (sourcePath.IsEmpty()) {
        const NTag* own = info && info->IDTags() ? info->IDTags()->tag() : &tags;
        XStr track, rest;
        own->GetValue(L"track").Split(L"/", track, rest);
        const XStr title = own->GetValue(L"title");
        XStr name = track;
        if (!name.IsEmpty() && !title.IsEmpty())
            name += L" ";
        name += title;
        // Exempt from separator replacement as an origin element, so made safe here.
        name.Replace(L"/", L"-");
        name.Replace(L"\\", L"-");
        if (!name.IsEmpty())
            tags.AddTag(L"origfilename", name);
    }

    return XStrToQString(expandDynamic(pattern, tags));
}

void KRAFileNaming::applyNameRules(XFileName& text, bool keepSlashes) const
{
    if (m_ansiOnly)
        for (int i = 0; i < text.Length(); i++)
            if (static_cast<uint32_t>(text.p[i]) > 127)
                text.p[i] = XCharToASCII(text.p[i]);
    const XStr pairs = m_characterReplacement ? XStrFromQString(*m_characterReplacement) : XStr();
    text.MakeValid(false, m_characterReplacement ? pairs.p : nullptr, keepSlashes, false);
}

QString KRAFileNaming::validNameText(const QString& text) const
{
    // The text goes behind a name: its leading blanks and dots are not a name's start, and a
    // placeholder in front keeps the validation from taking them away.
    XFileName name(XStr(L"\x01") + XStrFromQString(text));
    applyNameRules(name, false);
    return XStrToQString(name.MidToEnd(2));
}

XStr KRAFileNaming::expandDynamic(const XStr& pattern, const NTag& tags) const
{
    static const XStr fullPrefix(kSameFolderPattern);
    static const XStr pathPrefix(L"[origpath]");
    XStr head;
    XStr rest = pattern;
    for (const XStr* prefix : {&fullPrefix, &pathPrefix}) {
        if (pattern.BeginsWith(*prefix)) {
            // The source's own folder path, used as it is.
            head = ExpandNamingTemplate(*prefix, tags, nullptr, true);
            rest = pattern.MidToEnd(prefix->Length() + 1);
            break;
        }
    }
    XStr raw = rest.IsEmpty() ? XStr() : ExpandNamingTemplate(rest, tags, nullptr, true);
    // A name that expands to nothing (an untagged file) is the source's own: neither the
    // extension alone, nor one name for every untagged file.
    if (NamesNothing(head + raw))
        raw = WithName(raw, tags.GetValue(L"origfilename"));
    if (!raw.IsEmpty()) {
        XFileName expanded(raw);
        // Text that goes on the head's last component ("[origpath]/[origfilename] - [title]")
        // starts no name: its leading blanks and dots are part of the name and stay. A
        // placeholder in front keeps the validation from treating them as a name's start.
        const bool continuesHead =
            !head.IsEmpty() && head.p[head.Length() - 1] != L'/' && !expanded.IsEmpty() && expanded.p[0] != L'/';
        if (continuesHead)
            expanded = XFileName(XStr(L"\x01") + expanded);
        applyNameRules(expanded, true);
        expanded.StripLeadingDots();
        if (continuesHead)
            expanded = XFileName(expanded.MidToEnd(2));
        head += expanded;
    }
    while (head.Find(L"//"))
        head.Replace(L"//", L"/");
    head.TrimRightChar(L'/');
    return head;
}

QUrl KRAFileNaming::fullPathForSubPath(const std::optional<QString>& subPath, const QUrl& source) const
{
    if (!subPath)
        return QUrl();
    XStr folder;
    if (m_type == FileNamingSingleFolder || m_type == FileNamingDynamic) {
        if (!m_destination || !m_destination->resolveAndMount())
            return QUrl();
        folder = m_destination->path();
    } else if (m_type == FileNamingSourceFolder) {
        const XStr sourcePath = SourcePathOf(source);
        if (sourcePath.IsEmpty())
            return QUrl();
        folder = KRANormalizeAbsolutePath(XFileName(sourcePath).GetFolder());
    }
    if (folder.IsEmpty())
        return QUrl();
    const XStr path = JoinInside(folder, CheckBelowFolder(XStrFromQString(*subPath), SourcePathOf(source)));
    return path.IsEmpty() ? QUrl() : XFileURL(path);
}

QUrl KRAFileNaming::fullPathForSubPath(const std::optional<QString>& subPath, const QUrl& source,
                                       const QString& extension) const
{
    if (!subPath)
        return QUrl();
    QString safeExtension = extension;
    safeExtension.replace(QLatin1Char('/'), QLatin1Char('-'));
    // An empty name (a sub-path the user cleared) must not leave the extension as the name.
    XStr named = XStrFromQString(*subPath);
    if (NamesNothing(named)) {
        XStr own = XFileName(SourcePathOf(source)).GetFileNameNoExt();
        named = WithName(named, NamesNothing(own) ? XStr(L"_") : own);
    }
    return fullPathForSubPath(XStrToQString(named) + safeExtension, source);
}

QUrl KRAFileNaming::fullPathForSource(const QUrl& source, const QKMediaFileInfo* info) const
{
    return fullPathForSubPath(subPathForSource(source, info), source);
}

QUrl KRAFileNaming::fullPathForSource(const QUrl& source, const QKMediaFileInfo* info, const QString& extension) const
{
    return fullPathForSubPath(subPathForSource(source, info), source, extension);
}

// ---- Other operations --------------------------------------------------------------------

bool KRAFileNaming::prepareFolder()
{
    if (m_type == FileNamingSourceFolder)
        return true;
    if (usingDestinationFolder())
        return m_destination && m_destination->prepareFolder();
    return false;
}

bool KRAFileNaming::sanity()
{
    if (m_type == FileNamingSourceFolder)
        return true;
    if (usingDestinationFolder())
        return m_destination && m_destination->sanity();
    return false;
}

bool KRAFileNaming::isOrigFileName() const
{
    return m_type == FileNamingSourceFolder ||
           (m_type == FileNamingDynamic && m_dynamicFormat.endsWith(QStringLiteral("[origfilename]")));
}

bool KRAFileNaming::isSameFolder() const
{
    if (m_type == FileNamingSourceFolder)
        return true;
    if (m_type != FileNamingDynamic || m_dynamicFormat != QString::fromWCharArray(kSameFolderPattern) || !m_destination)
        return false;
    m_destination->resolve();
    return m_destination->path() == L"/";
}

QString KRAFileNaming::descriptionRaw() const
{
    if (m_destination) {
        m_destination->resolve();
        XFileName folder(m_destination->path());
        if (!folder.IsEmpty()) {
            folder.AddTrailingSlash();
            return XStrToQString(folder) + m_dynamicFormat;
        }
    }
    return m_dynamicFormat;
}

QKAttributedText KRAFileNaming::attributedDescription() const
{
    const XStr marked = ColourMarkNamingTemplate(XStrFromQString(descriptionRaw()));
    return QKStringTools::importColorsW(marked.p);
}

QString KRAFileNaming::description() const
{
    return attributedDescription().plainText();
}

// ---- Class methods ---------------------------------------------------------------------------

QString KRAFileNaming::sanitizeDynamicPattern(const QString& pattern)
{
    QString out = pattern;
    out.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return out;
}

bool KRAFileNaming::namingUsesEncoderInfo(const QString& pattern)
{
    return pattern.contains(QStringLiteral("[encoder]")) || pattern.contains(QStringLiteral("[k_bitrate]")) ||
           pattern.contains(QStringLiteral("[encoder+]"));
}

void KRAFileNaming::addDateFieldsTo(NTag& tags)
{
    const XTime now;
    const struct tm& t = now.Tm;
    const unsigned year = static_cast<unsigned>(t.tm_year + 1900);
    tags.AddTag(L"date", Padded(year, 4) + L"-" + Padded(static_cast<unsigned>(t.tm_mon + 1), 2) + L"-" +
                             Padded(static_cast<unsigned>(t.tm_mday), 2));
    tags.AddTag(L"time", Padded(static_cast<unsigned>(t.tm_hour), 2) + L":" +
                             Padded(static_cast<unsigned>(t.tm_min), 2) + L":" +
                             Padded(static_cast<unsigned>(t.tm_sec), 2));
    tags.AddTag(L"day_of_week", Padded(static_cast<unsigned>(t.tm_wday), 1));
    tags.AddTag(L"now_year", Padded(year, 1));
}

bool KRAFileNaming::saveRecentList(const QList<KRAFileNamingRef>& namings)
{
    QList<KRAFileNamingRef> kept;
    for (const KRAFileNamingRef& naming : namings)
        if (naming && naming->m_destination && !naming->m_destination->path().IsEmpty())
            kept.append(naming);
    XRegistryTransaction transaction;
    for (int n = 0; n < kRecentCount; n++) {
        const XStr name = RecentValueName(n);
        if (n < kept.size()) {
            const KRAFileNaming& naming = *kept[n];
            const XStr value =
                naming.m_destination->path() + XStrFromQString(recentDelim()) + XStrFromQString(naming.m_dynamicFormat);
            transaction.SetString(value, name);
        } else {
            transaction.DeleteValue(name);
        }
    }
    return transaction.Commit();
}

QList<KRAFileNamingRef> KRAFileNaming::loadRecentList()
{
    QList<KRAFileNamingRef> list;
    for (int n = 0; n < kRecentCount; n++) {
        const XStr text = XRegistry::GetString(RecentValueName(n));
        if (text.IsEmpty())
            continue;
        const XStrList parts(text, XStrFromQString(recentDelim()));
        if (parts.Count() != 2 || parts[0].EndsWith(L"(null)"))
            continue;
        auto naming = std::make_shared<KRAFileNaming>();
        naming->m_type = FileNamingDynamic;
        naming->m_destination = KRALocationDescriptor::withFolderPath(parts[0]);
        // A folder that is no absolute path cannot be a destination.
        if (naming->m_destination->path().IsEmpty())
            continue;
        naming->m_dynamicFormat = XStrToQString(parts[1]);
        list.append(naming);
    }
    return list;
}

// ---- Element catalogue -------------------------------------------------------------------

QList<KRAFileNamingElement> KRAFileNamingElement::elements()
{
    static const char* const table[][2] = {
        {"[artist]", "Artist"},
        {"[title]", "Track title"},
        {"[album]", "Album title"},
        {"[album artist]", "Album Artist"},
        {"[genre]", "Music genre"},
        {"[year]", "Year of recording"},
        {"[track]", "Track number"},
        {"[track_total]", "Total tracks on CD"},
        {"[disc]", "Compilation disc number"},
        {"[disc_total]", "Compilation disc total"},
        {"[tag]<element>[]", "Embed user defined tag element"},
        {"/", "Folder separator"},
        {"[unique]", "Unique number (not padded)"},
        {"[length]", "Audio length (in miliseconds)"},
        {"[length_mmss]", "Audio length (mm.ss)"},
        {"[length_hhmmss]", "Audio length (hh.mm.ss)"},
        {"[frequency]", "Samples per second, ie 44100"},
        {"[channels]", "Channels, ie 2"},
        {"[channels_subone]", "Channels minus 1, ie 1"},
        {"[bits_per_sample]", "Bits per sample, ie 16"},
        {"[bytes_per_sample]", "Bytes per sample, ie 2"},
        {"[encoder]", "Audio encoder"},
        {"[encoder+]", "Audio encoder detailed"},
        {"[extension]", "Audio format extension, ie mp3"},
        {"[cddb_id]", "CDDB disc ID"},
        {"[date]", "Current date"},
        {"[time]", "Current time"},
        {"[day_of_week]", "Current day of week"},
        {"[now_year]", "Current year"},
        {"[origpath]", "Original Folder Path  ie Folder1/Folder2"},
        {"[origfilename]", "Original Filename"},
        {"[protected]", "Yes / No if audio is protected"},
        {"[id_tag]", "ID Tag type, ie ID3v2.2 & ID3v1.1"},
        {"[audio_quality]", "Audio quality, ie ID Tag type, ie Perfect (Lossless), or Medium (Lossy)"},
        {"[gapless]", "Yes / No if audio is gapless"},
        {"", ""},
        {"Advanced (programmable actions on elements)", ""},
        {"[IFCOMP]string[]", "Includes string if Compiltion CD"},
        {"[IF!COMP]string[]", "Includes string if not a Compiltion CD"},
        {"[IFMULTI]string[]", "Includes string if part of a multi-disc set"},
        {"[IF!MULTI]string[]", "Includes string if not part of a multi-disc set"},
        {"[UPPER]string[]", "Uppercase string"},
        {"[LOWER]string[]", "Lowercase string"},
        {"[RIGHT]count,string[]", "Use last x characters from string"},
        {"[GRAB]from,to,string[]", "Use portion of string"},
        {"[TRIM]string[]", "Trim spaces from beginning and end"},
        {"[DEL]from,to,string[]", "Remove portion of string"},
        {"[SETLEN]count,pre,post,string[]", "Increases or reduces string length"},
        {"[IFEQUALS]tag,equals,string[]", "Includes string if tag matches"},
        {"[IF!EQUALS]tag,equals,string[]", "Includes string if tag does not match"},
        {"[IF]tag,condition,match,stringmatch,stringnomatch[]", "See help"},
        {"[IFVALUE]tag,strifvalue,strnovalue[]", "Uses strifvalue if tag has a value, else uses strnovalue"},
        {"[TRIMFIRSTFOLDER]string[]", "Removes First Folder"},
        {"[TRIMLASTFOLDER]string[]", "Removes Last Folder"},
        {"[FRONTFOLDER]pos[]", "Insert Source Folder (1=first, 2=second)"},
        {"[BACKFOLDER]pos[]", "Insert Source Folder (1=last, 2=second last)"},
        {"[MAXLENGTH]maxlength,string[]", "If string is over maxlength characters long, it is shortened"},
    };
    QList<KRAFileNamingElement> list;
    for (const auto& row : table)
        list.append(KRAFileNamingElement(QString::fromUtf8(row[0]), QString::fromUtf8(row[1])));
    return list;
}
