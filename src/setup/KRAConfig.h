// All profiles of the plain converter or of one batch profile: one per encoder of the
// catalogue, the user's own when user profiles are allowed ("kRAAllowProfiles"), and which
// one is active ("kRALastCodec" + the batch profile's name).
//
// A load reads one copy of the store: the whole set comes from one moment, and a store of
// hundreds of profiles loads in one parse instead of one per value.
#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

#include "job/QKDSPDesc.h"
#include "job/QKEncoderDesc.h"
#include "setup/KRAProfile.h"

class XRegistry;
class XRegistryTransaction;

class KRAConfig;
using KRAConfigRef = std::shared_ptr<KRAConfig>;

class KRAConfig {
public:
    // The plain converter's profiles.
    KRAConfig();
    // A batch profile's copies (none: the plain converter's).
    explicit KRAConfig(const std::optional<QString>& batchConverterProfile);

    static bool allowUserProfilesSetting();
    bool allowUserProfiles() const { return m_userProfiles.has_value(); }

    QList<KRAProfileRef> encoderProfiles() const { return m_encoderProfiles; }
    QList<KRAProfileRef> userProfiles() const { return m_userProfiles.value_or(QList<KRAProfileRef>()); }
    KRAProfileRef profileNamed(const QString& name) const { return m_profilesByName.value(name); }

    KRAProfileRef activeProfile() const { return profileNamed(m_activeProfile); }
    QString activeProfileName() const { return m_activeProfile; }
    // Sets it and writes it to the store at once.
    void setActiveProfileName(const QString& name);
    void setActiveProfile(const KRAProfileRef& profile);
    QKEncoderDescRef encoderForProfile(const KRAProfileRef& profile) const;
    QKEncoderDescRef activeEncoder() const { return encoderForProfile(activeProfile()); }
    QList<QKDSPDescRef> availableDSPEffects() const { return m_availableDSPEffects; }
    std::optional<QString> batchConverterProfile() const { return m_batchConverterProfile; }

    KRAProfileRef makeProfile(const QString& name) const;
    // A new user profile, loaded (the caller saves it); null when user profiles are not
    // allowed, the text cannot name a profile (problem says why) or the name is taken.
    KRAProfileRef newUserProfile(const QString& userText, const QString& encoderName, QString* problem = nullptr);
    // Forgets the profile and removes it from the store, with every batch profile's copy.
    bool deleteProfile(const KRAProfileRef& profile);

    // Every encoder profile, every user profile, then the active name.
    void saveAllToRegistry(XRegistryTransaction& transaction) const;
    bool saveAll() const;
    void overrideBatchProfile(const std::optional<QString>& batchProfile);
    // A new batch profile starts with a copy of every profile of from.
    static bool cloneBatchConverterDataFrom(const std::optional<QString>& from, const QString& to);

    // The multi-encoder clean-up every load runs; public for tests. An older profile's one
    // chain moves into its encoders only when every encoder can take it; otherwise it stays in
    // the store untouched and is only held back from the user, so nothing stored is lost.
    void startupProfileSanity();

    static XStr lastCodecValueName(const std::optional<QString>& batchProfile);

private:
    void load(XRegistry& snapshot);

    QHash<QString, KRAProfileRef> m_profilesByName;
    QList<KRAProfileRef> m_encoderProfiles;
    std::optional<QList<KRAProfileRef>> m_userProfiles;
    QString m_activeProfile;
    QList<QKDSPDescRef> m_availableDSPEffects;
    std::optional<QString> m_batchConverterProfile;
};
