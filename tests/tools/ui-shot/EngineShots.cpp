// The conversion engine's windows.

#include "tools/ui-shot/UiShot.h"

#include "app/KRAPanelHost.h"
#include "progress/KRAStatusLogDialog.h"

namespace {

KRAStatusLogEntryRef Entry(const QString& path, const QString& to, const QStringList& lines)
{
    auto entry = std::make_shared<KRAStatusLogEntry>();
    entry->source2 = QKConvertSource::withURL(QUrl::fromLocalFile(path));
    entry->fnTo = to;
    entry->encoderName = "MP4 (H264)";
    entry->entries = lines;
    return entry;
}

const UiShotRegistration statusLog(
    {"status-log", "the status log after a batch with a failed file and one converted with warnings", QSize(640, 520),
     [](UiShotKeep& keep) {
         KRAStatusLogContext context;
         context.errors = {
             Entry("/home/anna/Videos/Holiday 2024/Harbour at Night.mov", "Harbour at Night.mp4",
                   {"av_interleaved_write_frame(): No space left on device (312 times)",
                    "Error writing trailer of /media/anna/USB/Harbour at Night.tmp-4711-1.mp4: No space left on "
                    "device"}),
             Entry("/home/anna/Videos/old_tape_1998.avi", "old_tape_1998.mp4",
                   {"[h264 @ 0x55d0c1a2b3c0] error while decoding MB 33 21, bytestream -7",
                    "Error while decoding stream #0:0: Invalid data found when processing input (3 times)"}),
         };
         context.errors[0]->setOutcome(KRAConversionOutcome::Failed);
         context.errors[1]->setOutcome(KRAConversionOutcome::ConvertedWithWarnings);
         context.infos = {
             Entry("/home/anna/Videos/Holiday 2024/Beach - Day 1.mp4", "Beach - Day 1.mp4",
                   {"Stream #0:0: Video: h264 (High), yuv420p, 1920x1080, 29.97 fps"}),
             Entry("/home/anna/Videos/Holiday 2024/Beach - Day 2.mp4", "Beach - Day 2.mp4",
                   {"Stream #0:1: Audio: aac (LC), 48000 Hz, stereo"}),
             Entry("/home/anna/Videos/Family/First Day at School.mkv", "First Day at School.mp4",
                   {"Guessed Channel Layout for Input Stream #0.1 : mono"}),
         };
         std::shared_ptr<KRAPanelHostBase> host = KRAPanelHost::newWindow(); // the converter window
         context.host = host;
         auto panel = KRAStatusLogDialog::create(context);
         host->setCurrentPanel(panel);
         keep.push_back(panel);
         keep.push_back(std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); }));
         return host->mainWindow();
     }});

} // namespace

#include <QThread>

#include "progress/KRAProgressDialog.h"
#include "setup/KRACodecLogos.h"

namespace {

// The dialog mid-batch: its slots are given progress as a running batch would report it.
class PictureProgress : public KRAProgressDialog {
public:
    using KRAProgressDialog::KRAProgressDialog;

protected:
    void startThread(uint64_t, std::function<void()>) override {}
    void preventSleep() override {}
};

const UiShotRegistration progress(
    {"progress", "the progress dialog converting on four encoders", QSize(620, 420), [](UiShotKeep& keep) {
         KRACodecLogos::installAsEncoderMenuLogos(); // as the program does at start-up
         auto spec = std::make_shared<QKConversionSpec>();
         spec->Encoder = QKEncoderDesc::makeVideoCodec("MP4 (H264)", ".mp4");
         spec->dspEffects = {QKDSPSpec("Multi-CPU Force", "-marvoni_thread_count=\"4\"")};
         const char* names[] = {"Beach - Day 1",      "Beach - Day 2",      "Harbour at Night",   "Old Town Walk",
                                "Boat Trip (Part 1)", "Boat Trip (Part 2)", "Leo's 5th Birthday", "Jazz Night"};
         for (const char* name : names) {
             auto entry = std::make_shared<QKConversionEntry>();
             entry->convertFrom =
                 QKConvertSource::withURL(QUrl::fromLocalFile(QString("/home/anna/Videos/%1.mov").arg(name)));
             entry->urlTo = QUrl::fromLocalFile(QString("/home/anna/Converted/%1.mp4").arg(name));
             entry->sourceSizeBytes = 700u * 1024 * 1024;
             spec->entries.append(entry);
         }
         std::shared_ptr<KRAPanelHostBase> host = KRAPanelHost::newWindow(); // the converter window
         auto dialog = std::make_shared<PictureProgress>(spec, host);
         host->setCurrentPanel(dialog);
         const int percents[] = {72, 55, 31, 8};
         const double fps[] = {61.5, 58.0, 64.2, 49.9};
         for (uint64_t i = 0; i < 4; ++i) {
             dialog->onLengthMS(180000 + i * 40000, i);
             dialog->onStatusPercentDone(percents[i], i);
             dialog->onFPS(i, fps[i]);
         }
         QThread::msleep(2500); // some time has passed since the batch began
         keep.push_back(dialog);
         keep.push_back(std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); }));
         return host->mainWindow();
     }});

} // namespace
