// The effect pages, each in the settings dialog that hosts it in the chain editor, and the
// chain editor itself with three effects.

#include <QMenu>
#include <QVBoxLayout>

#include "media/QKExternalFFmpeg.h"
#include "setup/KRADSPListPane.h"
#include "tools/ui-shot/UiShot.h"

namespace {

struct EffectShot {
    const char* name;
    const char* args; // as the user would have set it; empty: a new effect
};

// clang-format off
const EffectShot kEffects[] = {
    {"Aspect Ratio", "-aspect 16:9"},
    {"Audio Bitrate", "-b:a 192k"},
    {"Audio Channel Count", ""},
    {"Audio Mute", ""},
    {"Audio Normalize", ""},
    {"Audio Resample", "-ar 48000"},
    {"Brightness & Contrast", "-vf eq=\"brightness=0.10:contrast=1.20\""},
    {"Canvas Size", ""},
    {"Crop", "-vf crop=1280:720:320:180"},
    {"Cut", "-ss 00:01:05.250 -t 00:00:30"},
    {"Deinterlace (yadif)", ""},
    {"Delete Source File", "-DELSOURCERECYCLE"},
    {"Denoiser (High Precision 3D)", ""},
    {"Denoiser (Spatial Denoiser)", ""},
    {"Denoiser (Wavelet)", ""},
    {"Fade", "-fadein=\"2\" -fadeout=\"2\" -afadein=\"1.5\" -afadeout=\"1.5\""},
    {"Flip", "-vf hflip"},
    {"Frame Rate", ""},
    {"Hue & Saturation", "-vf hue='h=30:s=1.4'"},
    {"Loop", ""},
    {"Multi-CPU Force", "-threads 2 -marvoni_thread_count 4"},
    {"Pixel Format", ""},
    {"Play Sound After Conversion", "-playsound /usr/share/sounds/done.oga"},
    {"Preserve Source Attributes", ""},
    {"Reverse", ""},
    {"Rotate", "-vf rotate='90*PI/180'"},
    {"Scale Absolute", "-vf scale=1280:720"},
    {"Scale Maximum", "-vf \"scale='min(1280,iw):min(720,ih)':force_original_aspect_ratio=decrease\""},
    {"Scale Percentage", ""},
    {"Sharpen & Blur", ""},
    {"Speed Adjust", ""},
    {"Stream Selection", "-map 0:v:0 -map 0:a:1 -sn"},
    {"Trim", "-trimstart 1.5 -trimend 10"},
    {"Watermark", "-i \"/home/me/Pictures/logo.png\" -filter_complex overlay=main_w-overlay_w:main_h-overlay_h"},
    {"[Custom]", "-vf \"eq=gamma=1.2\""},
};
// clang-format on

// "Hue & Saturation" -> "hue-saturation"
QString Slug(const QString& name)
{
    QString slug;
    for (const QChar c : name.toLower()) {
        if (c.isLetterOrNumber())
            slug += c;
        else if (!slug.isEmpty() && !slug.endsWith(QLatin1Char('-')))
            slug += QLatin1Char('-');
    }
    while (slug.endsWith(QLatin1Char('-')))
        slug.chop(1);
    return slug;
}

const bool registered = [] {
    for (const EffectShot& effect : kEffects) {
        const QString name = QString::fromUtf8(effect.name);
        const QString args = QString::fromUtf8(effect.args);
        UiShotRegistration({QStringLiteral("effect-") + Slug(name),
                            QStringLiteral("the settings of \u201c%1\u201d").arg(name), QSize(),
                            [name, args](UiShotKeep&) {
                                auto* dialog = new KRADSPSettingsDialog;
                                dialog->setSpec(QKDSPSpec(name, args));
                                return static_cast<QWidget*>(dialog);
                            }});
    }
    return true;
}();

const UiShotRegistration
    chain({"effect-chain", "the effect chain editor with four effects", QSize(480, 300), [](UiShotKeep& keep) {
               auto pane = std::make_shared<KRADSPListPane>();
               pane->setDspEffects(std::make_shared<QKDSPChain>(QKDSPChain{
                   QKDSPSpec(QStringLiteral("Crop"), QStringLiteral("-vf crop=1280:720:0:0")),
                   QKDSPSpec(QStringLiteral("Brightness & Contrast"), QString()),
                   QKDSPSpec(QStringLiteral("Fade"), QString()), QKDSPSpec(QStringLiteral("Watermark"), QString())}));
               auto* window = new QWidget;
               window->setWindowTitle(QStringLiteral("Effects"));
               auto* layout = new QVBoxLayout(window);
               layout->addWidget(pane->view());
               keep.push_back(pane);
               return window;
           }});

// Every effect offered, as with a full ffmpeg. The menu is drawn inside a plain window: as the
// pop-up it is it would grab the keyboard, which the offscreen platform cannot.
const UiShotRegistration
    addMenu({"effect-add-menu", "the chain editor's menu of effects to add", QSize(), [](UiShotKeep& keep) {
                 QKExternalFFmpeg::setProbe([] { return true; });
                 keep.push_back(std::shared_ptr<void>(nullptr, [](void*) { QKExternalFFmpeg::setProbe(nullptr); }));
                 auto pane = std::make_shared<KRADSPListPane>();
                 keep.push_back(pane);
                 auto* window = new QWidget;
                 window->setWindowTitle(QStringLiteral("Add Effect"));
                 auto* layout = new QVBoxLayout(window);
                 layout->setContentsMargins(0, 0, 0, 0);
                 QMenu* menu = pane->makeAddMenu(window);
                 menu->setWindowFlags(Qt::Widget);
                 layout->addWidget(menu);
                 return window;
             }});

} // namespace
