#include "setup/KREEncoderPagePlain.h"

#include <QFormLayout>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "job/KRECodecs.h"
#include "job/QKElemValueList.h"
#include "kit/QKNamedImages.h"
#include "media/QKLocateFFmpeg.h"
#include "setup/KRAEncoderPageHost.h"
#include "setup/KREEncoderBitrates.h"
#include "setup/KREEncoderPageCommon.h"

namespace {

// The whole number a stored value starts with, held within -1..100000 so that no run of digits
// or sign wraps around.
double StoredValue(const QKElemValueList& list, const QString& name)
{
    static const QRegularExpression leading(QStringLiteral("^\\s*([+-]?[0-9]*\\.?[0-9]*)"));
    const double value = leading.match(list.findValue(name, QString())).captured(1).toDouble();
    if (!(value > -1.0))
        return -1;
    if (!(value < 100000.0))
        return 100000;
    return value;
}

int64_t StoredInt(const QKElemValueList& list, const QString& name)
{
    return static_cast<int64_t>(StoredValue(list, name));
}

void SendToHost(KREEncoderPage* page, const QString& args)
{
    if (KRAEncoderPageHost* host = page->host())
        host->setEncoderArgs(args);
}

} // namespace

// ---- Remux ----

KREEncoderPageRemux::KREEncoderPageRemux(KRAEncoderPageHost* host, const QString& format, QObject* parent)
    : KREEncoderPage(host, parent), m_format(format), m_audioOptions(KREAudioOptions::createForFormat(format))
{
}

QString KREEncoderPageRemux::argsText() const
{
    QStringList items = {QStringLiteral("-vcodec copy")};
    const QStringList& switches = m_audioOptions.optionSwitches();
    if (m_audioOptionIndex < static_cast<uint64_t>(switches.size()))
        items.append(switches.at(static_cast<int>(m_audioOptionIndex)));
    items.append(KREEncoderPageCommon::fixedOptionsForContainerFormat(m_format));
    return items.join(QLatin1Char(' '));
}

void KREEncoderPageRemux::readArgs(const QString& args)
{
    m_audioOptionIndex = static_cast<uint64_t>(m_audioOptions.optionFromArgs(args));
    if (m_popup)
        m_popup->setCurrentIndex(static_cast<int>(m_audioOptionIndex));
    for (const QString& option : KREEncoderPageCommon::fixedOptionsForContainerFormat(m_format)) {
        if (!args.contains(option)) {
            // The host gets the complete text once this reading is done; a page gone by then
            // sends nothing.
            QTimer::singleShot(0, this, [this] { send(); });
            break;
        }
    }
}

void KREEncoderPageRemux::send()
{
    SendToHost(this, argsText());
}

void KREEncoderPageRemux::audioOptionChanged(int index)
{
    if (index < 0 || index >= m_audioOptions.optionSwitches().size())
        return;
    m_audioOptionIndex = static_cast<uint64_t>(index);
    send();
}

void KREEncoderPageRemux::selectCodecChoice(int index)
{
    audioOptionChanged(index);
    if (m_popup)
        m_popup->setCurrentIndex(static_cast<int>(m_audioOptionIndex));
}

void KREEncoderPageRemux::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* form = new QFormLayout;
    m_popup = new QComboBox(view);
    m_popup->addItems(m_audioOptions.optionLabels());
    form->addRow(QStringLiteral("&Audio:"), m_popup);
    layout->addLayout(form);
    auto* note = new QLabel(QStringLiteral("The video stream is copied as it is, without re-encoding."), view);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch(1);
    connect(m_popup, &QComboBox::activated, this, &KREEncoderPageRemux::audioOptionChanged);
    setView(view);
}

void KREEncoderPageRemux::viewDidLoad()
{
    KRAEncoderPageHost* h = host();
    QString stored = h ? h->encoderArgs() : QString();
    if (stored.isEmpty()) {
        m_audioOptionIndex = 0;
        stored = argsText();
        SendToHost(this, stored);
    }
    readArgs(stored);
}

// ---- One slider ----

KREEncoderPageSlider::KREEncoderPageSlider(KRAEncoderPageHost* host, int maximum, QObject* parent)
    : KREEncoderPage(host, parent), m_maximum(maximum)
{
}

void KREEncoderPageSlider::setSliderVal(int64_t position)
{
    m_position = static_cast<uint64_t>(std::clamp<int64_t>(position, 0, m_maximum));
    refresh();
}

void KREEncoderPageSlider::setMaximum(int maximum)
{
    m_maximum = maximum;
    if (m_slider) {
        const QSignalBlocker block(m_slider);
        m_slider->setRange(0, m_maximum);
    }
    setSliderVal(static_cast<int64_t>(m_position));
}

void KREEncoderPageSlider::refresh()
{
    if (m_slider) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(static_cast<int>(m_position));
    }
    if (m_label)
        m_label->setText(labelText());
}

void KREEncoderPageSlider::send()
{
    SendToHost(this, argsText());
}

void KREEncoderPageSlider::onSliderChanged(int position)
{
    sliderMoved();
    setSliderVal(position);
    send();
}

void KREEncoderPageSlider::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    m_label = new QLabel(view);
    m_slider = new QSlider(Qt::Horizontal, view);
    m_slider->setRange(0, m_maximum);
    m_slider->setPageStep(1);
    m_slider->setTickInterval(1);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setAccessibleName(QStringLiteral("Quality"));
    m_label->setBuddy(m_slider);
    layout->addWidget(m_label);
    layout->addWidget(m_slider);
    layout->addStretch(1);
    connect(m_slider, &QSlider::valueChanged, this, &KREEncoderPageSlider::onSliderChanged);
    setView(view);
}

void KREEncoderPageSlider::viewDidLoad()
{
    KRAEncoderPageHost* h = host();
    QString stored = h ? h->encoderArgs() : QString();
    if (stored.isEmpty()) {
        setDefault();
        stored = argsText();
        SendToHost(this, stored);
    }
    readArgs(stored);
    refresh();
}

KREEncoderPageQScale::KREEncoderPageQScale(KRAEncoderPageHost* host, const char* muxer, QObject* parent)
    : KREEncoderPageSlider(host, 10, parent), m_muxer(muxer)
{
}

QString KREEncoderPageQScale::qscaleText() const
{
    return m_exact ? QString::number(*m_exact, 'g', 10) : QString::number(qscale());
}

QString KREEncoderPageQScale::argsText() const
{
    return QStringLiteral(" -f %1 -qscale %2").arg(QLatin1String(m_muxer), qscaleText());
}

void KREEncoderPageQScale::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    if (!list.containsElem(QStringLiteral("qscale")))
        return;
    const double value = std::clamp(StoredValue(list, QStringLiteral("qscale")), 0.0, 10.0);
    const double step = std::floor(value);
    setSliderVal(10 - static_cast<int64_t>(step));
    m_exact.reset();
    if (value != step)
        m_exact = value;
    refresh();
}

QString KREEncoderPageQScale::labelText() const
{
    return QStringLiteral("Quality %1").arg(qscaleText());
}

KREEncoderPageXviD::KREEncoderPageXviD(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageSlider(host, 15, parent)
{
}

int KREEncoderPageXviD::quantiserAt(uint64_t position)
{
    static constexpr int kTable[16] = {30, 25, 20, 17, 14, 12, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    return position < 16 ? kTable[position] : 5;
}

QString KREEncoderPageXviD::argsText() const
{
    return QStringLiteral(" -f avi -c:v libxvid -q:v %1").arg(quantiser());
}

void KREEncoderPageXviD::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    if (!list.containsElem(QStringLiteral("q:v")))
        return;
    const int64_t wanted = StoredInt(list, QStringLiteral("q:v"));
    for (uint64_t position = 0; position < 16; ++position) {
        if (quantiserAt(position) <= wanted) {
            setSliderVal(static_cast<int64_t>(position));
            // libxvid's quantisers run from 1 to 31: one of them between the table's steps is
            // kept as it is.
            m_stored.reset();
            if (quantiserAt(position) != wanted && wanted <= 31)
                m_stored = static_cast<int>(wanted);
            refresh();
            return;
        }
    }
}

QString KREEncoderPageXviD::labelText() const
{
    return QStringLiteral("Quality %1").arg(quantiser());
}

KREEncoderPageWMV::KREEncoderPageWMV(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageSlider(host, KREEncoderBitrates::kCount - 1, parent)
{
}

QString KREEncoderPageWMV::bitrateText() const
{
    return m_steps.text(static_cast<int>(sliderVal()))
        .value_or(KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(0)));
}

QString KREEncoderPageWMV::argsText() const
{
    // The encoder's rate control drifts from an average it is given alone; the ceiling with a
    // buffer of one second holds it there.
    return QStringLiteral(" -c:v wmv2 -c:a wmav2 -b:v %1 -maxrate %1 -bufsize %1").arg(bitrateText());
}

void KREEncoderPageWMV::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    const std::optional<int> position = m_steps.positionOf(list.findValue(QStringLiteral("b:v"), QString()));
    if (!position)
        return;
    setMaximum(m_steps.count() - 1);
    setSliderVal(*position);
}

QString KREEncoderPageWMV::labelText() const
{
    return QStringLiteral("Average bitrate %1").arg(m_steps.userText(static_cast<int>(sliderVal())));
}

// ---- 3GP ----

KREEncoderPage3GP::KREEncoderPage3GP(KRAEncoderPageHost* host, QObject* parent) : KREEncoderPage(host, parent) {}

const QStringList& KREEncoderPage3GP::sizes()
{
    static const QStringList list = {"128x96", "176x144", "352x288", "704x576", "1408x1152"};
    return list;
}

QStringList KREEncoderPage3GP::optionVals() const
{
    QStringList labels;
    for (const QString& size : sizes())
        labels.append(QStringLiteral("H263 (%1)").arg(size));
    labels.append(QStringLiteral("H264"));
    return labels;
}

void KREEncoderPage3GP::setOptionIndex(uint64_t index)
{
    m_index = std::min<uint64_t>(index, 5);
    if (m_popup) {
        const QSignalBlocker block(m_popup);
        m_popup->setCurrentIndex(static_cast<int>(m_index));
    }
}

QString KREEncoderPage3GP::argsText() const
{
    if (m_index >= 5)
        // 8-bit 4:2:0, which phones play, whatever the source holds.
        return QStringLiteral(" -f 3gp -vcodec libx264 -pix_fmt yuv420p -acodec aac");
    // AMR-NB exists only in ffmpeg builds with the OpenCORE library; elsewhere AAC at the same
    // rate and channels still makes a valid 3GP file.
    const XStr ffmpeg = QKLocateFFmpeg::locateFFmpeg();
    const bool amr = !ffmpeg.IsEmpty() && QKLocateFFmpeg::ffmpegHasEncoder(ffmpeg, L"libopencore_amrnb");
    return QStringLiteral("-f 3gp -vcodec h263 -vf scale=%1 -acodec %2 -ar 8000 -ac 1")
        .arg(sizes().at(static_cast<int>(m_index)), amr ? QStringLiteral("amr_nb") : QStringLiteral("aac"));
}

void KREEncoderPage3GP::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    const QString vcodec = list.findValue(QStringLiteral("vcodec"), QString());
    if (vcodec == QLatin1String("libx264")) {
        setOptionIndex(5);
    } else if (vcodec == QLatin1String("h263")) {
        const QString filter = list.findValue(QStringLiteral("vf"), QString());
        if (filter.startsWith(QLatin1String("scale="))) {
            const int at = sizes().indexOf(filter.mid(6));
            if (at >= 0)
                setOptionIndex(static_cast<uint64_t>(at));
        }
    }
}

void KREEncoderPage3GP::onChanged()
{
    if (m_popup)
        m_index = static_cast<uint64_t>(std::max(0, m_popup->currentIndex()));
    SendToHost(this, argsText());
}

void KREEncoderPage3GP::selectCodecChoice(int index)
{
    if (index < 0 || index > 5)
        return;
    setOptionIndex(static_cast<uint64_t>(index));
    SendToHost(this, argsText());
}

void KREEncoderPage3GP::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* form = new QFormLayout;
    m_popup = new QComboBox(view);
    m_popup->addItems(optionVals());
    form->addRow(QStringLiteral("&Video:"), m_popup);
    layout->addLayout(form);
    layout->addStretch(1);
    connect(m_popup, &QComboBox::activated, this, &KREEncoderPage3GP::onChanged);
    setView(view);
}

void KREEncoderPage3GP::viewDidLoad()
{
    KRAEncoderPageHost* h = host();
    const QString stored = h ? h->encoderArgs() : QString();
    if (!stored.isEmpty()) {
        readArgs(stored);
        // H.264 stored without the pixel format would follow a 10-bit or 4:4:4 source; the
        // host gets the current text once this reading is done (a page gone by then sends
        // nothing).
        if (m_index == 5 && !QKElemValueList(stored).containsElem(QStringLiteral("pix_fmt")))
            QTimer::singleShot(0, this, [this] { SendToHost(this, argsText()); });
    } else {
        SendToHost(this, argsText());
    }
    setOptionIndex(m_index);
}

// ---- Without settings ----

KREEncoderPageNoOptions::KREEncoderPageNoOptions(KRAEncoderPageHost* host, const QString& args, const QString& logo,
                                                 QObject* parent)
    : KREEncoderPage(host, parent), m_args(args), m_logo(logo)
{
}

void KREEncoderPageNoOptions::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    const QImage logo = m_logo.isEmpty() ? QImage() : QKNamedImages::imageNamed(m_logo);
    if (!logo.isNull()) {
        auto* image = new QLabel(view);
        image->setPixmap(QPixmap::fromImage(logo.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        layout->addWidget(image, 0, Qt::AlignHCenter);
    }
    auto* note = new QLabel(QStringLiteral("This encoder has no settings."), view);
    layout->addWidget(note, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    setView(view);
}

void KREEncoderPageNoOptions::viewDidLoad()
{
    SendToHost(this, m_args);
}

KREEncoderPageVOB::KREEncoderPageVOB(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageNoOptions(host, KRECodecs::fixedArgsOf(QStringLiteral("VOB")), QStringLiteral("VOB"), parent)
{
}

KREEncoderPageGIF::KREEncoderPageGIF(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPageNoOptions(host, KRECodecs::fixedArgsOf(QStringLiteral("GIF Animation")), QString(), parent)
{
}
