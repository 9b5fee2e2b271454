// The converter setup with a user profile loaded (effects, a destination folder), and the
// output-location picker with its rows.

#include <QDir>
#include <QListView>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "common/TestPreConvertHost.h"
#include "kit/KRARichComboBox.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "platform/XStrQString.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KRAEncoderPageMultiEnc.h"
#include "setup/QKConcatenateOrderDialog.h"
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

// Two encoders, each with its own settings, effects and folder.
const QString kTwoEncoders = QStringLiteral(
    "-enc1=\"WebM (VP9)=-vcodec libvpx-vp9 -crf 31 -b:v 0\" -encMopt1=\"-tofolder={mqt}/home/me/Videos/Web{mqt} "
    "-dynamic={mqt}[origfilename]{mqt}\" -encDSP1=\"-dspeffect1={mqt}Scale Maximum=-vf scale=1280:-2{mqt}\" "
    "-enc2=\"Audio Extract (AAC)=-vn -acodec aac -b:a 192k\"");

class ShotPageHost : public KRAEncoderPageHost {
public:
    QString encoderArgs() const override { return m_args.strArgs; }
    void setEncoderArgs(const QString& args) override { m_args.strArgs = args; }
    QKEncoderArgs& encoderArgsV2() override { return m_args; }
    bool encoderAllowSameFolder() const override { return true; }

private:
    QKEncoderArgs m_args;
};

const UiShotRegistration
    multiPage({"multi-encoder-page", "the multi-encoder page with two encoders", QSize(560, 300), [](UiShotKeep& keep) {
                   auto host = std::make_shared<ShotPageHost>();
                   host->setEncoderArgs(kTwoEncoders);
                   std::shared_ptr<KREEncoderPage> page =
                       KRAEncoderPageIndex::createFor(QKEncoderDesc::strMultiEncoder(), host.get());
                   auto* window = new QWidget;
                   window->setWindowTitle(QStringLiteral("Multi Encoder"));
                   auto* layout = new QVBoxLayout(window);
                   layout->addWidget(page->view());
                   keep.push_back(page);
                   keep.push_back(host);
                   return window;
               }});

const UiShotRegistration
    multiDialog({"multi-encoder-dialog", "the sheet that configures one encoder of the set", QSize(), [](UiShotKeep&) {
                     const KRAMultiEncConfigRef config = KRAMultiEncConfig::fromString(kTwoEncoders);
                     return static_cast<QWidget*>(new KRAMultiEncConfigureEncoder(config->entries.first(), true));
                 }});

} // namespace

namespace {

const UiShotRegistration concat(
    {"concatenate-order", "the order of files to join", QSize(460, 320), [](UiShotKeep& keep) {
         auto dialog = std::make_shared<QKConcatenateOrderDialog>();
         QList<QUrl> files;
         for (const char* name : {"Part 1 - Arrival.mp4", "Part 2 - The Lake.mp4", "Part 3 - Evening.mp4"})
             files.append(QUrl::fromLocalFile(QStringLiteral("/home/me/Videos/Holiday/") + QString::fromLatin1(name)));
         dialog->setSources(files);
         auto* window = new QWidget;
         window->setWindowTitle(QStringLiteral("Concatenate Setup"));
         auto* layout = new QVBoxLayout(window);
         layout->addWidget(dialog->view());
         dialog->table()->setCurrentRow(1);
         keep.push_back(dialog);
         return window;
     }});

} // namespace
