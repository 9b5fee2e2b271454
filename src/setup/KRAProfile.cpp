#include "setup/KRAProfile.h"

#include <QVariant>

#include "job/QKConversionSpec.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "xclass/XRegistry.h"
#include "xclass/XRegistryTransaction.h"

namespace {

const QChar kQuote = QLatin1Char('"');
const wchar_t kFrontendKey[] = L"encFrontendData";

// What the profile menu offers besides the profiles: a profile of that name could not be told
// from the command.
const char* const kMenuWords[] = {"Create Profile", "Delete Profile", "[Create New Profile]",
                                  "[Delete Selected Profile]"};

QString FoldAZ(const QString& text)
{
    QString folded = text;
    for (QChar& c : folded)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    return folded;
}

// A stored text up to its first NUL: the store's writers take NUL-terminated texts, so that is
// all a save could write back, and a profile must read what it will write.
QString StoredText(const XStr& text)
{
    return XStrToQString(XStr(text.p));
}

bool HasControlCharacter(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace

KRAProfileRef KRAProfile::profileNamed(const QString& name, const std::optional<QString>& batchProfile)
{
    auto profile = std::make_shared<KRAProfile>();
    profile->profileName = name;
    profile->encoderName = encoderNameOf(name);
    profile->batchProfileName = batchProfile;
    return profile;
}

XStr KRAProfile::rootRegPath()
{
    return XStr(productKey()) + L"\\kRACodec";
}

XStr KRAProfile::regKeyFor(const QString& name)
{
    return rootRegPath() + L"\\" + XStrFromQString(name);
}

XStr KRAProfile::regPath() const
{
    XStr path = regKeyFor(profileName);
    if (batchProfileName)
        path += XStr(L"\\") + XStrFromQString(*batchProfileName);
    return path;
}

// ---- Loading and saving ------------------------------------------------------------------------

void KRAProfile::fetchFromRegistry()
{
    XRegistry snapshot;
    fetchFromRegistry(snapshot);
}

void KRAProfile::fetchFromRegistry(XRegistry& snapshot)
{
    const XStr key = regPath();
    const wchar_t* root = registryRoot();
    encoderName = encoderNameOf(profileName);

    encoderArgsV2 = QKEncoderArgs();
    encoderArgsV2.strArgs = StoredText(snapshot.ReadString(L"kRA_CLI", root, key, nullptr));
    const XStr extension = snapshot.ReadString(L"kRA_CustomExt", root, key, nullptr);
    if (!extension.IsEmpty())
        encoderArgsV2.customFormatExt = StoredText(extension);

    const XStr frontendKey = key + L"\\" + kFrontendKey;
    XStrList names;
    if (snapshot.ListNames(root, frontendKey, &names, false)) {
        QVariantMap frontend;
        for (int64_t i = 0; i < names.Count(); ++i) {
            bool notString = true;
            const XStr value = snapshot.ReadString(names[i].p, root, frontendKey, &notString);
            const QString name = XStrToQString(names[i]);
            // A name with a NUL in it cannot be asked for by name.
            if (name.contains(QChar(0)))
                continue;
            // The store finds values by name with A-Z folded: of names that differ only so,
            // the first is the one every read reaches, and the only one a save can keep.
            bool taken = false;
            for (auto it = frontend.constBegin(); it != frontend.constEnd() && !taken; ++it)
                taken = sameStoredName(it.key(), name);
            if (!notString && !taken)
                frontend.insert(name, StoredText(value));
        }
        if (!frontend.isEmpty())
            encoderArgsV2.frontendData = frontend;
    }

    m_heldDsp.clear();
    const QString chainText = StoredText(snapshot.ReadString(L"KRADSPEffects", root, key, nullptr));
    fileNaming = KRAFileNaming::initWithRegKeyR16(key, snapshot);
    setDspString(chainText);
    m_loadedDspText = chainText;
    m_loadedDsp = dspEffects;
    onDSPChanged();
    onEncoderChanged();
}

void KRAProfile::saveToRegistry(XRegistryTransaction& transaction) const
{
    const XStr key = regPath();
    const wchar_t* root = registryRoot();
    transaction.SetString(XStrFromQString(encoderArgsV2.strArgs), L"kRA_CLI", root, key);
    if (encoderArgsV2.customFormatExt && !encoderArgsV2.customFormatExt->isEmpty())
        transaction.SetString(XStrFromQString(*encoderArgsV2.customFormatExt), L"kRA_CustomExt", root, key);
    else
        transaction.DeleteValue(L"kRA_CustomExt", root, key);

    transaction.DeleteKey(root, key, kFrontendKey);
    if (encoderArgsV2.frontendData && !encoderArgsV2.frontendData->isEmpty()) {
        const XStr frontendKey = key + L"\\" + kFrontendKey;
        const QVariantMap& data = *encoderArgsV2.frontendData;
        for (auto it = data.constBegin(); it != data.constEnd(); ++it)
            transaction.SetString(XStrFromQString(it.value().toString()), XStrFromQString(it.key()), root, frontendKey);
    }

    transaction.SetString(XStrFromQString(storedDspString()), L"KRADSPEffects", root, key);
    if (fileNaming)
        fileNaming->serializeToRegKey(key, transaction);
}

bool KRAProfile::saveProfile() const
{
    XRegistryTransaction transaction;
    saveToRegistry(transaction);
    return transaction.Commit();
}

void KRAProfile::deleteFromRegistry(XRegistryTransaction& transaction) const
{
    transaction.DeleteKey(registryRoot(), rootRegPath(), XStrFromQString(profileName));
}

// ---- The chain -----------------------------------------------------------------------------------

QString KRAProfile::dspString() const
{
    return QKDSPList::dspsToString(dspEffects);
}

void KRAProfile::setDspString(const QString& text)
{
    dspEffects = QKDSPList::stringToDSPs(text);
    if (fileNaming)
        fileNaming->setDspEffectsString(dspString());
}

void KRAProfile::onDSPChanged()
{
    if (fileNaming)
        fileNaming->setDspEffectsString(dspString());
}

void KRAProfile::onEncoderChanged()
{
    if (!fileNaming)
        return;
    fileNaming->setEncoderName(encoderName);
    fileNaming->setEncoderExtra(encoderArgsV2.strArgs);
}

void KRAProfile::holdDspString()
{
    const QString text = storedDspString();
    m_heldDsp = text;
    m_loadedDspText.reset();
    m_loadedDsp.clear();
    dspEffects.clear();
    onDSPChanged();
}

QString KRAProfile::storedDspString() const
{
    const QString visible = m_loadedDspText && dspEffects == m_loadedDsp ? *m_loadedDspText : dspString();
    if (m_heldDsp.isEmpty())
        return visible;
    if (dspEffects.isEmpty())
        return m_heldDsp;
    return QKConversionSpec::combineDSPString(m_heldDsp, dspString());
}

// ---- Names ---------------------------------------------------------------------------------------

bool KRAProfile::isUserProfileName(const QString& name)
{
    return name.endsWith(kQuote);
}

QString KRAProfile::encoderNameOf(const QString& profileName)
{
    if (!isUserProfileName(profileName))
        return profileName;
    const QString name = profileName.left(profileName.size() - 1);
    const qsizetype quote = name.lastIndexOf(kQuote);
    return quote < 0 ? name : name.mid(quote + 1);
}

std::optional<QString> KRAProfile::userProfileNameOf(const QString& profileName)
{
    if (!isUserProfileName(profileName))
        return std::nullopt;
    QString name = profileName;
    while (name.endsWith(kQuote))
        name.chop(1);
    const qsizetype quote = name.lastIndexOf(kQuote);
    if (quote >= 0)
        name.truncate(quote);
    while (name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    return name;
}

QString KRAProfile::composeUserProfileName(const QString& userText, const QString& encoderName)
{
    QString text = userText;
    text.replace(kQuote, QStringLiteral("''"));
    return text + QLatin1Char(' ') + kQuote + encoderName + kQuote;
}

QString KRAProfile::cleanUserText(const QString& userText)
{
    return userText.trimmed();
}

QString KRAProfile::userTextProblem(const QString& userText)
{
    const QString text = cleanUserText(userText);
    if (text.isEmpty())
        return QStringLiteral("Please enter a name for the profile.");
    // The store splits key paths at backslashes: the profile would land in a key of its own
    // further down, where no one looks for it.
    if (text.contains(QLatin1Char('\\')))
        return QStringLiteral("A profile name cannot contain a backslash (\\).");
    if (HasControlCharacter(text))
        return QStringLiteral("A profile name cannot contain line breaks or tabs.");
    for (const char* word : kMenuWords)
        if (sameStoredName(text, QString::fromLatin1(word)))
            return QStringLiteral("\"%1\" is a command of the profile menu. Please choose another profile name.")
                .arg(QString::fromLatin1(word));
    for (const QKEncoderDescRef& encoder : QKEncoderDesc::listEncoders())
        if (encoder && sameStoredName(text, encoder->name()))
            return QStringLiteral("\"%1\" is the name of an encoder. Please choose another profile name.")
                .arg(encoder->name());
    return QString();
}

QString KRAProfile::batchProfileNameProblem(const QString& batchName)
{
    if (batchName.isEmpty())
        return QStringLiteral("Please enter a name for the batch profile.");
    if (batchName.contains(QLatin1Char('\\')))
        return QStringLiteral("A batch profile name cannot contain a backslash (\\).");
    if (HasControlCharacter(batchName))
        return QStringLiteral("A batch profile name cannot contain line breaks or tabs.");
    // The copies lie beside the page state's key inside each profile's key.
    if (sameStoredName(batchName, QString::fromWCharArray(kFrontendKey)))
        return QStringLiteral("\"%1\" is used by the profiles themselves. Please choose another name.").arg(batchName);
    return QString();
}

bool KRAProfile::sameStoredName(const QString& a, const QString& b)
{
    return a.size() == b.size() && FoldAZ(a) == FoldAZ(b);
}
