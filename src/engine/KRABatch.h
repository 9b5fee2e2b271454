// The engine's view of one conversion batch: the argument string every file's ffmpeg run
// receives (effect arguments first, in chain order, then the encoder's), the number of
// encoder slots the user forced, and the effects that are actions after a conversion.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "engine/KRAProcessArg.h"
#include "job/QKConversionSpec.h"

class KRAMultiEncEntry;

class KRABatch {
public:
    explicit KRABatch(std::shared_ptr<QKConversionSpec> spec);

    const std::shared_ptr<QKConversionSpec>& spec() const { return m_spec; }

    // The "marvoni_thread_count" of the first "Multi-CPU Force" of the job's effect chain that has
    // one; 0 (no forced count) when there is none, or when its value is not a whole number
    // of at least 1.
    uint64_t userThreadCount() const;
    // An effect's part of the command line: nothing for the actions after a conversion; for
    // "Multi-CPU Force" its other elements in the "-name value" form; for "Frame Rate" its
    // arguments and the fps filter of its rate; for "Scale Percentage" and "Scale Maximum"
    // their arguments and a crop to even sides (both only when the video is encoded, not
    // copied); else its arguments.
    static QString argsOfDSP(const QKDSPSpec& dsp, bool encodesVideo = true);
    // Appends argsOfDSP of each effect in order, the empty ones left out.
    static void mergeDSP(const QKDSPChain& chain, QStringList& into, bool encodesVideo = true);

    // The argument string of an ordinary batch.
    QString commandLine() const;
    // The argument string for a file of a multi-encoder batch converted by entry.
    QString multiCommandLine(const KRAMultiEncEntry* entry) const;
    // The actions after a conversion of the job's effect chain and then of the entry's (may be
    // null), by name; a later effect of a name replaces an earlier one.
    KRASpecialActions prepareSpecialActions(const KRAMultiEncEntry* entry) const;
    // The words of the actions after a conversion and of "Multi-CPU Force" that stand in an
    // argument text as a whole (a chain's arguments run as one command): removed from args,
    // the delete and sound words returned as those actions; ffmpeg is never given them.
    static KRASpecialActions pullActionArgs(QString& args);
    // Called once after the last file; there is nothing left to do.
    void finish() {}

    // The effect whose element gives the forced number of encoder slots, and that element.
    static QString multiCPUForceName() { return QStringLiteral("Multi-CPU Force"); }
    static QString threadCountElement() { return QStringLiteral("marvoni_thread_count"); }
    // The effect whose rate the batch also gives ffmpeg's fps filter.
    static QString frameRateName() { return QStringLiteral("Frame Rate"); }

private:
    std::shared_ptr<QKConversionSpec> m_spec;
};
