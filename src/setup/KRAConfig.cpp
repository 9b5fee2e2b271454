#include "setup/KRAConfig.h"

#include "engine/KRAMultiEncConfig.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "xclass/XRegistry.h"
#include "xclass/XRegistryTransaction.h"

KRAConfig::KRAConfig() : KRAConfig(std::nullopt) {}

KRAConfig::KRAConfig(const std::optional<QString>& batchConverterProfile)
    : m_batchConverterProfile(batchConverterProfile)
{
    XRegistry snapshot;
    load(snapshot);
}

bool KRAConfig::allowUserProfilesSetting()
{
    return XRegistry::GetDWORD(L"kRAAllowProfiles", KRAProfile::registryRoot(), KRAProfile::productKey()) != 0;
}

XStr KRAConfig::lastCodecValueName(const std::optional<QString>& batchProfile)
{
    XStr name(L"kRALastCodec");
    if (batchProfile)
        name += XStrFromQString(*batchProfile);
    return name;
}

void KRAConfig::load(XRegistry& snapshot)
{
    const wchar_t* root = KRAProfile::registryRoot();
    m_availableDSPEffects = QKDSPDesc::listDSPs();

    const bool allowUser = snapshot.ReadDWORD(L"kRAAllowProfiles", root, KRAProfile::productKey(), nullptr) != 0;
    if (allowUser) {
        QList<KRAProfileRef> users;
        XStrList names;
        snapshot.ListNames(root, KRAProfile::rootRegPath(), &names, true);
        for (int64_t i = 0; i < names.Count(); ++i) {
            const QString name = XStrToQString(names[i]);
            // A key name holding a backslash cannot be addressed through a key path: it is left
            // in the store as it is, not shown.
            if (!KRAProfile::isUserProfileName(name) || name.contains(QLatin1Char('\\')))
                continue;
            KRAProfileRef profile = makeProfile(name);
            profile->fetchFromRegistry(snapshot);
            users.append(profile);
        }
        m_userProfiles = users;
    }

    for (const QKEncoderDescRef& encoder : QKEncoderDesc::listEncoders()) {
        if (!encoder)
            continue;
        KRAProfileRef profile = makeProfile(encoder->name());
        profile->fetchFromRegistry(snapshot);
        m_encoderProfiles.append(profile);
    }

    if (m_userProfiles)
        for (const KRAProfileRef& profile : *m_userProfiles)
            m_profilesByName.insert(profile->profileName, profile);
    for (const KRAProfileRef& profile : m_encoderProfiles)
        m_profilesByName.insert(profile->profileName, profile);

    startupProfileSanity();

    const QString active = XStrToQString(
        snapshot.ReadString(lastCodecValueName(m_batchConverterProfile), root, KRAProfile::productKey(), nullptr));
    m_activeProfile =
        !active.isEmpty() && m_profilesByName.contains(active) ? active : KRAProfile::defaultProfileName();
}

// A multi-encoder profile keeps its effects and naming in each of its encoders. Older
// profiles had one chain for the whole set and entries that took the profile's naming: the
// chain moves into every entry, ahead of the entry's own effects, and those entries get a copy
// of the naming, once, stored that way.
//
// A chain is moved only when every entry can take it. When the set holds an encoder this
// program does not offer now (kept as it was read), or no encoder at all, the chain is left
// in the store untouched and only held back from the user, so that nothing is lost.
void KRAConfig::startupProfileSanity()
{
    XRegistryTransaction transaction;
    bool anyChange = false;
    QList<KRAProfileRef> all = m_encoderProfiles;
    if (m_userProfiles)
        all += *m_userProfiles;
    for (const KRAProfileRef& profile : all) {
        if (profile->encoderName != QKEncoderDesc::strMultiEncoder())
            continue;
        const KRAMultiEncConfigRef config = KRAMultiEncConfig::fromArgs(profile->encoderArgsV2);
        bool changed = false;
        if (!profile->dspEffects.isEmpty()) {
            if (!config->entries.isEmpty() && config->keptEntries.isEmpty()) {
                for (const KRAMultiEncEntryRef& entry : config->entries) {
                    QKDSPChain chain = profile->dspEffects;
                    chain += entry->dspEffects;
                    entry->dspEffects = chain;
                }
                profile->setDspString(QString());
                changed = true;
            } else {
                profile->holdDspString();
            }
        }
        for (const KRAMultiEncEntryRef& entry : config->entries)
            if (entry->fileNaming && entry->fileNaming->fileNamingType() == FileNamingUseParentConfig_DEPRECATED &&
                profile->fileNaming) {
                entry->fileNaming->copyFrom(*profile->fileNaming);
                changed = true;
            }
        if (changed) {
            profile->encoderArgsV2.strArgs = config->toString();
            profile->onEncoderChanged();
            profile->saveToRegistry(transaction);
            anyChange = true;
        }
    }
    if (anyChange)
        transaction.Commit();
}

void KRAConfig::setActiveProfileName(const QString& name)
{
    m_activeProfile = name;
    XRegistry::SetString(XStrFromQString(name), lastCodecValueName(m_batchConverterProfile), KRAProfile::registryRoot(),
                         KRAProfile::productKey());
}

void KRAConfig::setActiveProfile(const KRAProfileRef& profile)
{
    if (profile)
        setActiveProfileName(profile->profileName);
}

QKEncoderDescRef KRAConfig::encoderForProfile(const KRAProfileRef& profile) const
{
    return profile ? QKEncoderDesc::findEncoder(profile->encoderName) : nullptr;
}

KRAProfileRef KRAConfig::makeProfile(const QString& name) const
{
    return KRAProfile::profileNamed(name, m_batchConverterProfile);
}

KRAProfileRef KRAConfig::newUserProfile(const QString& userText, const QString& encoderName, QString* problem)
{
    const auto refuse = [problem](const QString& why) -> KRAProfileRef {
        if (problem)
            *problem = why;
        return nullptr;
    };
    if (!m_userProfiles)
        return refuse(QStringLiteral("Profiles are switched off in the options."));
    const QString why = KRAProfile::userTextProblem(userText);
    if (!why.isEmpty())
        return refuse(why);
    const QString name = KRAProfile::composeUserProfileName(KRAProfile::cleanUserText(userText), encoderName);
    // The store does not tell names apart that differ only in the case of A-Z: such a name
    // would share the other profile's key.
    for (auto it = m_profilesByName.constBegin(); it != m_profilesByName.constEnd(); ++it)
        if (KRAProfile::sameStoredName(it.key(), name))
            return refuse(QStringLiteral("Please choose another profile name."));
    KRAProfileRef profile = makeProfile(name);
    profile->fetchFromRegistry();
    m_userProfiles->append(profile);
    m_profilesByName.insert(name, profile);
    return profile;
}

bool KRAConfig::deleteProfile(const KRAProfileRef& profile)
{
    if (!profile)
        return false;
    m_profilesByName.remove(profile->profileName);
    if (m_userProfiles)
        m_userProfiles->removeAll(profile);
    XRegistryTransaction transaction;
    profile->deleteFromRegistry(transaction);
    return transaction.Commit();
}

void KRAConfig::saveAllToRegistry(XRegistryTransaction& transaction) const
{
    for (const KRAProfileRef& profile : m_encoderProfiles)
        profile->saveToRegistry(transaction);
    if (m_userProfiles)
        for (const KRAProfileRef& profile : *m_userProfiles)
            profile->saveToRegistry(transaction);
    transaction.SetString(XStrFromQString(m_activeProfile), lastCodecValueName(m_batchConverterProfile),
                          KRAProfile::registryRoot(), KRAProfile::productKey());
}

bool KRAConfig::saveAll() const
{
    XRegistryTransaction transaction;
    saveAllToRegistry(transaction);
    return transaction.Commit();
}

void KRAConfig::overrideBatchProfile(const std::optional<QString>& batchProfile)
{
    m_batchConverterProfile = batchProfile;
    for (const KRAProfileRef& profile : m_encoderProfiles)
        profile->overrideBatchProfile(batchProfile);
    if (m_userProfiles)
        for (const KRAProfileRef& profile : *m_userProfiles)
            profile->overrideBatchProfile(batchProfile);
}

bool KRAConfig::cloneBatchConverterDataFrom(const std::optional<QString>& from, const QString& to)
{
    if (!KRAProfile::batchProfileNameProblem(to).isEmpty())
        return false;
    KRAConfig config(from);
    config.overrideBatchProfile(to);
    return config.saveAll();
}
