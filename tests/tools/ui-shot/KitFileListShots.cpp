// The file-list panel of the interface kit.

#include "tools/ui-shot/UiShot.h"

#include "app/KRAPanelHostBase.h"
#include "kit/JQFileListDialog.h"
#include "kit/QKPleaseWaitDialog.h"
#include "platform/XWorkspace.h"

#include <QTableView>

namespace {

const UiShotRegistration fileList(
    {"file-list", "the file-list panel listing a batch's converted files", QSize(640, 400), [](UiShotKeep& keep) {
         const char* paths[] = {
             "/home/anna/Videos/Holiday 2024/Beach - Day 1.mp4",
             "/home/anna/Videos/Holiday 2024/Beach - Day 2.mp4",
             "/home/anna/Videos/Holiday 2024/Harbour at Night.mp4",
             "/home/anna/Videos/Holiday 2024/Boat Trip (Part 1).mp4",
             "/home/anna/Videos/Holiday 2024/Boat Trip (Part 2).mp4",
             "/home/anna/Videos/Holiday 2024/Old Town Walk.mp4",
             "/home/anna/Videos/Family/Leo's 5th Birthday.mkv",
             "/home/anna/Videos/Family/Grandma & Grandpa - Garden.mkv",
             "/home/anna/Videos/Family/First Day at School.mkv",
             "/home/anna/Music/Concert Recordings/Jazz Night - Set 1.m4a",
             "/home/anna/Music/Concert Recordings/Jazz Night - Set 2.m4a",
             "/media/anna/Backup Drive/Archive/2019/Wedding Ceremony (Full Length, Director's Cut).mp4",
         };
         QList<QUrl> urls;
         for (const char* path : paths)
             urls.append(XFileURL(XStr::FromUTF8(path)));
         std::shared_ptr<KRAPanelHostBase> host = KRAPanelHostBase::newWindow();
         auto back = std::make_shared<QKPleaseWaitDialog>();
         auto panel = JQFileListDialog::startWithURLs(urls, host, back);
         panel->setTitle("Converted Files");
         host->panelNameChanged();
         panel->table()->selectRow(2);
         keep.push_back(panel);
         keep.push_back(back);
         keep.push_back(std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); }));
         return host->mainWindow();
     }});

} // namespace
