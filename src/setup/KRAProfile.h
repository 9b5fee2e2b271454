// A profile: a named, stored set of conversion settings (an encoder, its arguments, an effect
// chain and the output naming). Every encoder has one profile named like it; user profiles are
// named by the user, followed by a blank and the encoder's name in double quotes.
//
// Stored under HKCU\Software\Brantok\MarvoniVideo\kRACodec\<profile name>; a batch profile's
// copy lies one key further down, under the batch profile's name:
//   "kRA_CLI"          the encoder page's argument text
//   "kRA_CustomExt"    the output extension chosen on the page (absent: the format's own)
//   "encFrontendData"  a key of string values, the page's own state
//   "KRADSPEffects"    the effect-chain string
//   and the values of the profile's file naming.
//
// What is read comes back on saving: an effect-chain text that is not changed is written back
// as it was read (so parts of it this version does not read stay), and a chain held back from
// the user (see holdDspString) is kept in the store.
#pragma once

#include <QString>

#include <memory>
#include <optional>

#include "job/QKDSPSpec.h"
#include "job/QKEncoderArgs.h"
#include "job/QKEncoderDesc.h"
#include "xclass/XStr.h"

class KRAFileNaming;
using KRAFileNamingRef = std::shared_ptr<KRAFileNaming>;
class XRegistry;
class XRegistryTransaction;

class KRAProfile;
using KRAProfileRef = std::shared_ptr<KRAProfile>;

class KRAProfile {
public:
    QString profileName;
    QKEncoderArgs encoderArgsV2;
    QString encoderName;
    QKDSPChain dspEffects;
    KRAFileNamingRef fileNaming;             // null until the profile is loaded
    std::optional<QString> batchProfileName; // none: the plain converter's copy

    // A profile with its names set (the encoder's name follows from the profile's).
    static KRAProfileRef profileNamed(const QString& name, const std::optional<QString>& batchProfile);
    static QString defaultProfileName() { return QStringLiteral("MP4 (copy, no encoding)"); }

    static const wchar_t* registryRoot() { return L"HKCU"; }
    static const wchar_t* productKey() { return L"Software\\Brantok\\MarvoniVideo"; }
    static XStr rootRegPath();
    static XStr regKeyFor(const QString& name);
    XStr regPath() const;

    // Loads the profile from a loaded copy of the store; the other form loads one first.
    void fetchFromRegistry(XRegistry& snapshot);
    void fetchFromRegistry();
    void saveToRegistry(XRegistryTransaction& transaction) const;
    // One transaction of its own; false when the store could not be written.
    bool saveProfile() const;
    // Removes the profile's key, and with it the copies of every batch profile.
    void deleteFromRegistry(XRegistryTransaction& transaction) const;

    bool isUserProfile() const { return isUserProfileName(profileName); }
    std::optional<QString> userProfileName() const { return userProfileNameOf(profileName); }
    QKEncoderDescRef encoderDesc() const { return QKEncoderDesc::findEncoder(encoderName); }

    QString dspString() const;
    // Sets the chain and tells the file naming.
    void setDspString(const QString& text);
    void onDSPChanged();
    void onEncoderChanged();
    void overrideBatchProfile(const std::optional<QString>& batchProfile) { batchProfileName = batchProfile; }

    // A chain that stays in the store but is not the user's to see or edit (a multi-encoder
    // profile's chain with no encoder to move to). The visible chain becomes empty; saving
    // writes the held text as it was, ahead of anything the user adds.
    void holdDspString();
    const QString& heldDspString() const { return m_heldDsp; }
    // The effect-chain text saving writes.
    QString storedDspString() const;

    // ---- Names ----
    // A user profile's name ends with a double quote.
    static bool isUserProfileName(const QString& name);
    static QString encoderNameOf(const QString& profileName);
    // The user's part of a user profile's name; none for an encoder profile's.
    static std::optional<QString> userProfileNameOf(const QString& profileName);
    // The user's text (double quotes become two single quotes), a blank, the encoder's name
    // in double quotes.
    static QString composeUserProfileName(const QString& userText, const QString& encoderName);
    // The user's text as a profile takes it: surrounding blanks go.
    static QString cleanUserText(const QString& userText);
    // Why the (cleaned) text cannot name a user profile; empty when it can. Whether the name is
    // already taken is the configuration's question.
    static QString userTextProblem(const QString& userText);
    // Why the text cannot name a batch profile's copies; empty when it can.
    static QString batchProfileNameProblem(const QString& batchName);
    // Names the store takes for the same key: A-Z compared without case.
    static bool sameStoredName(const QString& a, const QString& b);

private:
    QString m_heldDsp;
    // The chain text as read and the chain it gave: while the chain is unchanged the text is
    // written back as it was.
    std::optional<QString> m_loadedDspText;
    QKDSPChain m_loadedDsp;
};
