// The converter setup with a user profile loaded (effects, a destination folder), and the
// output-location picker with its rows.

#include <QDir>
#include <QListView>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "common/TestPreConvertHost.h"
#include "kit/KRARichComboBox.h"
#include "naming/KRADynamicNamingDialogV2.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/KRAFileNaming.h"
#include "naming/KRAOutputLocationPickerV2.h"
#include "platform/XStrQString.h"
#include "tools/ui-shot/UiShot.h"
#include "xclass/XRegistry.h"

namespace {

// A folder of the picture's own inside the private folder ui-shot renders in.
QString SampleFolder(const QString& name)
{
    const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Videos/") + name;
    QDir().mkpath(folder);
    return folder;
}

const UiShotRegistration
    setup({"setup-dialog", "the converter setup with a user profile loaded", QSize(760, 720), [](UiShotKeep& keep) {
               XRegistry::SetDWORD(1, L"kRAAllowProfiles", L"HKCU", L"Software\\Brantok\\MarvoniVideo");
               auto host = std::make_shared<TestPreConvertHost>(QStringList{
                   QStringLiteral("/home/me/Videos/Holiday 2026.mp4"), QStringLiteral("/home/me/Videos/Birthday.mov"),
                   QStringLiteral("/home/me/Videos/Concert.mkv")});
               const KRAConfigRef config = host->config();
               KRAProfileRef profile = config->newUserProfile(QStringLiteral("Small for phone"), QStringLiteral("AVI"));
               profile->setDspString(
                   QStringLiteral("-dspeffect1=\"Crop=-vf crop=1280:720:0:0\" -dspeffect2=\"Fade=-fadein=2\""));
               profile->fileNaming->copyFrom(
                   *KRAFileNaming::namingSingleFolder(QUrl::fromLocalFile(SampleFolder(QStringLiteral("Converted")))));
               profile->saveProfile();
               config->setActiveProfile(profile);
               auto dialog = host->openSetup(host);
               keep.push_back(dialog);
               keep.push_back(host);
               QWidget* window = host->window;
               window->setWindowTitle(QStringLiteral("Converter Setup"));
               return window;
           }});

const UiShotRegistration
    picker({"location-picker", "the output-location picker and its rows", QSize(520, 260), [](UiShotKeep& keep) {
                auto picker = std::make_shared<KRAOutputLocationPickerV2>();
                picker->setNamingDialogContext(std::make_shared<KRADynamicNamingDialogV2_Context>());
                auto* window = new QWidget;
                window->setWindowTitle(QStringLiteral("Output Location"));
                auto* layout = new QVBoxLayout(window);
                layout->addWidget(picker->view());
                const KRAFileNamingRef naming =
                    KRAFileNaming::namingPreservePath(QUrl::fromLocalFile(SampleFolder(QStringLiteral("Archive"))));
                picker->setFileNaming(naming);
                picker->setEncoder(QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi")));
                // The rows as the open pop-up lists them (a copy: the picker's own model goes
                // with the picker, before the window).
                auto* rows = new QListView(window);
                auto* model = new QStandardItemModel(rows);
                const QAbstractItemModel* source = picker->comboBox()->model();
                for (int row = 0; row < source->rowCount(); ++row) {
                    auto* item = new QStandardItem(source->index(row, 0).data().toString());
                    item->setData(source->index(row, 0).data(KRARichTextRole), KRARichTextRole);
                    model->appendRow(item);
                }
                rows->setModel(model);
                rows->setItemDelegate(new KRARichTextItemDelegate(rows));
                rows->setCurrentIndex(model->index(picker->selectedRow(), 0));
                layout->addWidget(rows, 1);
                keep.push_back(picker);
                return window;
            }});

} // namespace

namespace {

const UiShotRegistration
    naming({"naming-dialog", "the dynamic naming dialog with its base folder and example", QSize(), [](UiShotKeep&) {
                auto context = std::make_shared<KRADynamicNamingDialogV2_Context>();
                context->setEncoder(QStringLiteral("Matroska (VP9)"));
                auto* dialog = new KRADynamicNamingDialogV2(context, true);
                dialog->setBaseLocation(QStringLiteral("~/Videos/Converted"));
                dialog->setCurPattern(QStringLiteral("[artist]/[album]/[track] - [title].[extension]"));
                dialog->setExMultiDisc(true);
                return static_cast<QWidget*>(dialog);
            }});

} // namespace
