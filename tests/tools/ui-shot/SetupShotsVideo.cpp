// The video codec pages.

#include "tools/ui-shot/SetupShots.h"

namespace {

const UiShotRegistration
    h264({"page-h264-mp4", "the H.264 page for MP4 at constant quality 22", QSize(460, 230), [](UiShotKeep& keep) {
              return PageWindow("MP4 (H264)", "-c:v libx264 -c:s mov_text -crf 22 -preset slow -acodec aac", QString(),
                                keep);
          }});

const UiShotRegistration h265({"page-h265-matroska", "the H.265 page for Matroska at an average 2.5 mbps",
                               QSize(460, 230), [](UiShotKeep& keep) {
                                   return PageWindow("Matroska (H265)", "-c:v libx265 -b:v 2.5M -acodec libopus",
                                                     QString(), keep);
                               }});

const UiShotRegistration
    vp9({"page-vp9-webm", "the VP9 page for WebM, realtime", QSize(460, 260), [](UiShotKeep& keep) {
             return PageWindow("WebM (VP9)", " -acodec libvorbis -c:v libvpx-vp9 -crf 30 -deadline realtime", QString(),
                               keep);
         }});

const UiShotRegistration vp8({"page-vp8", "the VP8 page", QSize(460, 200),
                              [](UiShotKeep& keep) { return PageWindow("WebM (VP8)", QString(), QString(), keep); }});

const UiShotRegistration
    apple({"page-apple-h264", "the page of the former hardware H.264 encoder", QSize(460, 200),
           [](UiShotKeep& keep) { return PageWindow("MP4 (Apple H264)", QString(), QString(), keep); }});

} // namespace
