// The actions after a conversion: three effects of the chain are not ffmpeg filters but
// things done when a file is finished, on that file's conversion thread, before the
// progress dialog hears that the file is complete:
//   "Preserve Source Attributes"  the source's access and modification times are copied to
//                                 the output;
//   "Delete Source File"          arguments "-DELSOURCERECYCLE" (to the trash instead of
//                                 deleting) and "-DELSOURCEREMOVEEMPTY" (also remove the
//                                 folders this leaves empty);
//   "Play Sound After Conversion" the sound file of "playsound" after a success, of
//                                 "playsounderr" after a failure.
//
// A source is deleted only after a conversion that succeeded and left an output that is a
// regular, non-empty file and not the source itself; a source that cannot be moved to the
// trash (the volume has none the user may make) stays where it is, with an error line. Emptied
// folders are removed upwards from the source's folder, never the home folder, a user folder
// of the desktop, a system folder, a volume's mount point or the folder that holds volumes.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include "engine/KRAProcessArg.h"
#include "xclass/XFileIdentity.h"
#include "xclass/XStr.h"

class KRAStatusCallback;

class QKConvertProcessShared {
public:
    static QString preserveAttributesName() { return QStringLiteral("Preserve Source Attributes"); }
    static QString deleteSourceName() { return QStringLiteral("Delete Source File"); }
    static QString playSoundName() { return QStringLiteral("Play Sound After Conversion"); }
    static QSet<QString> specialActionNames();

    // After the run of one file: handleSpecialActions when it succeeded, else
    // handleFailureActions. produced is the output the run moved into place (a run that moved
    // none gives an identity that does not exist); null when no run made it (the output at
    // the destination is taken as the one to check). damagedSource: the output was kept though
    // ffmpeg could not read all of the source; Delete Source File then keeps the source, the
    // only copy of what the output may lack.
    static void conversionFinished(const KRAProcessArg& arg, bool success, const XFileId* produced = nullptr,
                                   bool damagedSource = false);
    // A source goes only when the output is the very file produced names, and not the source.
    static void handleSpecialActions(const KRAProcessArg& arg, const XFileId* produced = nullptr,
                                     bool damagedSource = false);
    static void handleFailureActions(const KRAProcessArg& arg);
    // Plays the sound file named by the element key of the effect's arguments, in the
    // background; nothing when it names none. True when a player was started.
    static bool playSound(const QKDSPSpec& dsp, const QString& key);

    // The source paths of the argument: every joined file of a concatenation, else the file
    // that was converted.
    static QList<XStr> sourcePaths(const KRAProcessArg& arg);

    // Deletes (recycle: moves to the trash) each path in order; failures are reported to
    // callback (may be null) as error lines. True when every path is gone.
    static bool deleteSourceFiles(const QList<XStr>& paths, bool recycle, bool removeEmpty,
                                  KRAStatusCallback* callback = nullptr);
    static bool deleteSourceFile(const XStr& path, bool recycle, bool removeEmpty,
                                 KRAStatusCallback* callback = nullptr);
    // Removes folder (a path with or without its trailing "/") when it is empty, then its
    // parent when that is now empty, and so on, stopping at the first folder that is not
    // empty, cannot be removed or must be kept. Returns the number of folders removed.
    static int removeEmptyFolders(const XStr& folder);
    // A folder that is never removed as an empty folder.
    static bool isProtectedFolder(const XStr& folder);
};
