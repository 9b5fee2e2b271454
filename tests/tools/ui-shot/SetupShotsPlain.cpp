// The pages with their own few controls and the audio extraction pages.

#include "tools/ui-shot/SetupShots.h"

namespace {

const UiShotRegistration
    remux({"page-remux-mp4", "the stream copy page for MP4", QSize(460, 130),
           [](UiShotKeep& keep) { return PageWindow("MP4 (copy, no encoding)", QString(), QString(), keep); }});

const UiShotRegistration avi({"page-avi", "the AVI page", QSize(420, 120), [](UiShotKeep& keep) {
                                  return PageWindow("AVI", " -f avi -qscale 4", QString(), keep);
                              }});

const UiShotRegistration xvid({"page-xvid", "the XviD page", QSize(420, 120), [](UiShotKeep& keep) {
                                   return PageWindow("AVI (XviD/DivX)", QString(), QString(), keep);
                               }});

const UiShotRegistration wmv({"page-wmv", "the WMV page at 3 mbps", QSize(420, 120), [](UiShotKeep& keep) {
                                  return PageWindow("WMV (Windows Media Video)", " -c:v wmv2 -c:a wmav2 -b:v 3M",
                                                    QString(), keep);
                              }});

const UiShotRegistration threeGP({"page-3gp", "the 3GP page", QSize(420, 110),
                                  [](UiShotKeep& keep) { return PageWindow("3GP", QString(), QString(), keep); }});

const UiShotRegistration vob({"page-vob", "the VOB page without settings", QSize(360, 150),
                              [](UiShotKeep& keep) { return PageWindow("VOB", QString(), QString(), keep); }});

const UiShotRegistration extract({"page-extract-aac", "the AAC extraction page", QSize(460, 130), [](UiShotKeep& keep) {
                                      return PageWindow("Audio Extract (AAC)", QString(), QString(), keep);
                                  }});

} // namespace

namespace {

const UiShotRegistration flash({"page-flash", "the Flash Video page", QSize(420, 120), [](UiShotKeep& keep) {
                                    return PageWindow("Flash Video", QString(), QString(), keep);
                                }});

const UiShotRegistration gif({"page-gif", "the GIF page without settings", QSize(360, 100), [](UiShotKeep& keep) {
                                  return PageWindow("GIF Animation", QString(), QString(), keep);
                              }});

const UiShotRegistration wave({"page-extract-wave", "the WAVE extraction page", QSize(460, 100), [](UiShotKeep& keep) {
                                   return PageWindow("Audio Extract (WAVE)", "-vn  -map 0:a:1", QString(), keep);
                               }});

} // namespace
