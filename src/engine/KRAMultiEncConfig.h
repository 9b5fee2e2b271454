// The multi-encoder: every source is converted by several encoders in one run, each with its
// own settings, output naming and effect chain. The whole set travels as the multi-encoder's
// argument string, so profiles store it like any other encoder's settings:
//
//   -enc1="NAME=ARGS" -encMopt1="OPTIONS" -encDSP1="CHAIN" -enc2=... [-nomulti]
//
// numbered from 1 and read up to the first missing number. Every double quote inside a value
// is stored as "{mqt}". OPTIONS is an element-value list of its own: "customFormatExt",
// "encoder-private-KEY" (the page's state), and the naming keys "tofolder",
// "tofolderbookmark" (Base64), "tofolderfriendly", "dynamic" and "parentnaming".
//
// An entry whose encoder this program does not offer now (a full-ffmpeg encoder on a system
// without one, an encoder of a newer version) is not one of the entries, but it is kept as
// it was read and written back in its place, so that reading and saving a profile never
// loses it.
//
// The engine sees only these types: the batch reads an entry's settings and effects. Reading
// and writing the string needs the output naming, which stands above the engine, so the
// functions are built with it (src/naming/KRAMultiEncConfig.cpp): link "naming" to use them.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

#include "job/QKDSPSpec.h"
#include "job/QKEncoderArgs.h"
#include "job/QKEncoderDesc.h"

class KRAFileNaming;
using KRAFileNamingRef = std::shared_ptr<KRAFileNaming>;

class KRAMultiEncEntry;
using KRAMultiEncEntryRef = std::shared_ptr<KRAMultiEncEntry>;

// One encoder of the set.
class KRAMultiEncEntry {
public:
    QKEncoderDescRef encoder; // shared, not copied
    QKEncoderArgs encoderArgsV2;
    KRAFileNamingRef fileNaming; // never null
    QKDSPChain dspEffects;       // in order

    // No encoder, empty arguments and effects, a fresh naming object.
    KRAMultiEncEntry();

    // The same encoder; arguments, naming and effects copied.
    KRAMultiEncEntryRef copy() const;
    // Takes other's values; the naming is copied into this entry's own naming object.
    void copyFrom(const KRAMultiEncEntry& other);
};

// An entry whose encoder is not offered now: its three stored values exactly as read (still
// with "{mqt}"), and how many offered entries came before it.
struct KRAMultiEncKeptEntry {
    int64_t position = 0;
    QString enc;
    std::optional<QString> mopt;
    std::optional<QString> dsp;
};

class KRAMultiEncConfig;
using KRAMultiEncConfigRef = std::shared_ptr<KRAMultiEncConfig>;

class KRAMultiEncConfig {
public:
    QList<KRAMultiEncEntryRef> entries; // the offered encoders, in order
    bool multiCPU = true;
    // Entries of encoders not offered now, written back among the entries at their
    // positions (at the end when fewer entries remain).
    QList<KRAMultiEncKeptEntry> keptEntries;

    QString toString() const;
    // Never fails: what cannot be used is skipped (or kept, for unknown encoders).
    static KRAMultiEncConfigRef fromString(const QString& text);
    static KRAMultiEncConfigRef fromArgs(const QKEncoderArgs& args) { return fromString(args.strArgs); }

    // The values of the string: a double quote as "{mqt}", and back.
    static QString escapeQuotes(const QString& text);
    static QString unescapeQuotes(const QString& text);
};
