// The special encoder pages (preview generator, contact sheet, custom command line) and the
// encoder settings pop-up.

#include "tools/ui-shot/SetupShots.h"

#include <QVBoxLayout>

#include "common/TestPageHost.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KRAEncoderSettingsPopup.h"
#include "setup/KREEncoderPage.h"

QWidget* PageWindow(const QString& encoder, const QString& args, const QString& extension, UiShotKeep& keep)
{
    auto host = std::make_shared<TestPageHost>(args);
    if (!extension.isEmpty())
        host->encoderArgsV2().customFormatExt = extension;
    std::shared_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(encoder, host.get());
    auto* window = new QWidget;
    window->setWindowTitle(encoder);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(page->pageView());
    layout->addStretch(1);
    keep.push_back(host);
    keep.push_back(page);
    return window;
}

namespace {

const UiShotRegistration previewGenerator(
    {"page-preview-generator", "the preview generator page, one frame every 20 seconds as a GIF", QSize(480, 230),
     [](UiShotKeep& keep) { return PageWindow("[Preview Generator]", QString(), QString(), keep); }});

const UiShotRegistration contactSheet(
    {"page-contact-sheet", "the contact sheet page on a dark blue background", QSize(420, 300), [](UiShotKeep& keep) {
         return PageWindow("[Contact Sheet]",
                           "-contact_col 5 -contact_row 4 -contact_png 1 -contact_width 1920 -contact_padding 6 "
                           "-contact_backcol 402010 -contact_topinfo 1",
                           ".png", keep);
     }});

const UiShotRegistration
    custom({"page-custom", "the custom ffmpeg settings page", QSize(560, 130), [](UiShotKeep& keep) {
                return PageWindow("[Custom FFmpeg settings]", "-c:v libx264 -crf 20 -preset slow -c:a aac -b:a 160k",
                                  ".mp4", keep);
            }});

const UiShotRegistration popup({"encoder-settings-popup", "the encoder settings pop-up holding the contact sheet page",
                                QSize(420, 330), [](UiShotKeep&) {
                                    auto* dialog = new KRAEncoderSettingsPopup("[Contact Sheet]", QKEncoderArgs());
                                    return static_cast<QWidget*>(dialog);
                                }});

} // namespace
