// What a conversion batch is to do: which files go where (one entry per output file), with
// which encoder and encoder settings, and through which chain of effects.
//
// The effect chain also has a one-line text form, the effect-chain string, stored in
// profiles and saved effect selections and passed on the batch command line:
//   -dspeffect1="Name=args" -dspeffect2="Name=args" ...
// numbered from 1, read up to the first missing number. Inside a value a double quote of the
// arguments is stored as "{qt}"; a literal "{qt}" of the arguments as {\"qt} (never found in
// older strings, which hold no double quote inside a value) and a backslash as "\\".
#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>

#include "job/QKDSPSpec.h"
#include "job/QKEncoderArgs.h"
#include "job/QKEncoderDesc.h"

class QKConvertSource;  // a source of a conversion (a file, a temporary copy, a concatenation)
class KRAMultiEncEntry; // the multi-encoder set an entry belongs to

class QKConversionEntry {
public:
    bool justCopy = false;  // copy instead of convert
    bool hadErrors = false; // set when an error line arrives for its conversion
    std::shared_ptr<QKConvertSource> convertFrom;
    QUrl urlTo;
    QVariant userData; // the caller's
    uint64_t sourceSizeBytes = 0;
    std::shared_ptr<KRAMultiEncEntry> multiEncData; // null: not part of a multi-encoder set
};

using QKConversionEntryRef = std::shared_ptr<QKConversionEntry>;

class QKConversionSpec {
public:
    QList<QKConversionEntryRef> entries; // in conversion order
    QKEncoderDescRef Encoder;
    QKEncoderArgs EncoderArgsV2;
    QKDSPChain dspEffects; // in order

    static QString mergeDSPString(const QKDSPChain& chain);
    static QKDSPChain splitDSPString(const QString& text);
    // Appends the effects of the text to chain.
    static void splitDSPString(const QString& text, QKDSPChain& chain);
    // The second chain's effects after the first's, renumbered.
    static QString combineDSPString(const QString& first, const QString& second);
    // A chain read from outside (a saved selections file): taken only when it is made of whole
    // entries numbered 1, 2, ... in order, each closed by its quote and naming an effect of
    // the catalogue, with nothing else around them but blanks and line ends. None, with the
    // reason in error, for any other text (a cut file reads as a cut last effect otherwise).
    static std::optional<QKDSPChain> readWholeDSPString(const QString& text, QString* error);

    QString dspString() const { return mergeDSPString(dspEffects); }
    void setDspString(const QString& text) { dspEffects = splitDSPString(text); }
    // The encoder's argument string, a blank when it is not empty, and the chain string.
    QString coreConverterArgs() const;
};

class QKDSPList {
public:
    static QKDSPChain stringToDSPs(const QString& text);
    static QString dspsToString(const QKDSPChain& chain);
};
