// The files-already-exist dialog with an existing file and two outputs that share a name.

#include <QDir>

#include "naming/KRAFileAlreadyExistsDialog.h"
#include "tools/ui-shot/UiShot.h"

namespace {

const UiShotRegistration
    exists({"files-already-exist", "the files-already-exist dialog", QSize(720, 300), [](UiShotKeep&) {
                const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Videos");
                QDir().mkpath(folder);
                auto state = std::make_shared<KRACheckFilenamesState>();
                for (const char* name : {"Holiday.mkv", "Clip.mkv", "Clip.mkv", "Party.mkv"}) {
                    auto entry = std::make_shared<KRACheckFileNamesEntry>();
                    entry->destination = QUrl::fromLocalFile(folder + QLatin1Char('/') + QString::fromLatin1(name));
                    state->entries.append(entry);
                }
                state->alreadyExists.insert(state->entries[0]->destination);
                state->alreadyExists.insert(state->entries[3]->destination);
                auto* dialog = new KRAFileAlreadyExistsDialog;
                dialog->setState(state);
                return static_cast<QWidget*>(dialog);
            }});

} // namespace
