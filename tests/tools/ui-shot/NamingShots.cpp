// The naming library's windows: the dynamic naming dialog as the output-location picker opens
// it; and from Go to the batch: the files-already-exist dialog (an existing file and two outputs
// that share a name), list and rename, and the please-wait panel of the destination check.

#include <QDir>
#include <QVBoxLayout>

#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRACheckingFilenamesProgress.h"
#include "naming/ui/KRADynamicNamingDialogV2.h"
#include "naming/ui/KRAFileAlreadyExistsDialog.h"
#include "naming/ui/KRAFileListDialog.h"
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

namespace {

// Three files, one renamed and one skipped.
class ShotListOwner : public KRAFileListOwner {
public:
    QList<KRAFileListItem> fileListItems() const override
    {
        QList<KRAFileListItem> items;
        for (const char* name : {"Holiday 2026.mp4", "Birthday.mov", "Concert.mkv"}) {
            KRAFileListItem item;
            item.url = QUrl::fromLocalFile(QStringLiteral("/home/me/Videos/") + QString::fromLatin1(name));
            items.append(item);
        }
        items[1].destinationUser = QStringLiteral("Birthday (for grandma)");
        items[2].checked = false;
        return items;
    }
    KRAFileNamingRef fileListNaming() const override
    {
        return KRAFileNaming::namingSingleFolder(QUrl::fromLocalFile(QStringLiteral("/home/me/Videos/Converted")));
    }
    QKEncoderDescRef fileListEncoder() const override
    {
        return QKEncoderDesc::makeVideoCodec(QStringLiteral("MP4 (H264)"), QStringLiteral(".mp4"));
    }
    QString fileListEncoderArgs() const override { return QString(); }
    void fileListApply(const QMap<int, KRAFileListEdit>&) override {}
    void onSubDialogClose() override {}
};

const UiShotRegistration list({"list-rename", "the list and rename panel", QSize(760, 320), [](UiShotKeep& keep) {
                                   auto owner = std::make_shared<ShotListOwner>();
                                   auto dialog = std::make_shared<KRAFileListDialog>(owner.get());
                                   dialog->refreshDialog();
                                   auto* window = new QWidget;
                                   window->setWindowTitle(dialog->panelName());
                                   auto* layout = new QVBoxLayout(window);
                                   layout->addWidget(dialog->view());
                                   keep.push_back(dialog);
                                   keep.push_back(owner);
                                   return window;
                               }});

const UiShotRegistration checking({"checking-names", "the destination check's please-wait panel", QSize(),
                                   [](UiShotKeep& keep) {
                                       auto panel = std::make_shared<KRACheckingFilenamesProgress>(
                                           QList<KRACheckSourceItem>{}, QList<KRACheckEncoderItem>{}, nullptr);
                                       auto* window = new QWidget;
                                       window->setWindowTitle(panel->panelName());
                                       auto* layout = new QVBoxLayout(window);
                                       layout->addWidget(panel->view());
                                       keep.push_back(panel);
                                       return window;
                                   }});

} // namespace

namespace {

const UiShotRegistration
    naming({"naming-dialog", "the dynamic naming dialog with its base folder and example", QSize(), [](UiShotKeep&) {
                auto context = std::make_shared<KRADynamicNamingDialogV2_Context>();
                context->setEncoder(QStringLiteral("Matroska (VP9)"));
                auto* dialog = new KRADynamicNamingDialogV2(context, true);
                dialog->setWindowTitleText(QStringLiteral("Dynamic Naming"));
                dialog->setBaseLocation(QStringLiteral("~/Videos/Converted"));
                dialog->setCurPattern(QStringLiteral("[artist]/[album]/[track] - [title].[extension]"));
                dialog->setExMultiDisc(true);
                return static_cast<QWidget*>(dialog);
            }});

} // namespace
