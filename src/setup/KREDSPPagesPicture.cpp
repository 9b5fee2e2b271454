#include "setup/KREDSPPagesPicture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

#include "job/QKElemValueList.h"
#include "kit/SheetFallback.h"
#include "kit/StringScan.h"

namespace {

// Two spin boxes in one row for a size.
void AddSizeRow(QFormLayout* form, const QString& label, QSpinBox* width, QSpinBox* height)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(width);
    layout->addWidget(new QLabel(QStringLiteral("\u00d7")));
    layout->addWidget(height);
    layout->addStretch(1);
    auto* text = new QLabel(label);
    text->setBuddy(width);
    form->addRow(text, row);
}

} // namespace

std::optional<std::pair<int, int>> dspScaleSize(const QString& text)
{
    const std::optional<QString> rest = scanStringAfter(text, QStringLiteral("scale="));
    if (!rest)
        return std::nullopt;
    const QStringList parts = rest->split(QLatin1Char(':'));
    if (parts.size() != 2)
        return std::nullopt;
    return std::make_pair(parts[0].trimmed().toInt(), parts[1].trimmed().toInt());
}

// ---- Scale Absolute --------------------------------------------------------------------------

KREDSPPageScale::KREDSPPageScale(QObject* parent)
    : KRADSPPage(QStringLiteral("Scale Absolute"), parent), m_choices(loadDSPChoices(QStringLiteral("Scale Data")))
{
    readArgs(QString());
}

QString KREDSPPageScale::dspArgs() const
{
    if (m_custom || m_index < 0 || m_index >= m_choices.values.size())
        return QStringLiteral("-vf scale=%1:%2").arg(m_width).arg(m_height);
    return m_choices.values[m_index];
}

void KREDSPPageScale::selectIndex(int index)
{
    m_index = index;
    m_custom = false;
    if (index >= 0 && index < m_choices.values.size()) {
        if (const auto size = dspScaleSize(m_choices.values[index])) {
            m_width = size->first;
            m_height = size->second;
        }
    }
    settingsChanged();
}

void KREDSPPageScale::setCustomSize(int width, int height)
{
    m_custom = true;
    m_width = width;
    m_height = height;
    settingsChanged();
}

void KREDSPPageScale::readArgs(const QString& args)
{
    const QString text = args.isEmpty() ? QStringLiteral("-vf scale=1920:1080") : args;
    if (const auto size = dspScaleSize(text)) {
        m_width = size->first;
        m_height = size->second;
    }
    const qsizetype match = m_choices.values.indexOf(text);
    m_custom = match < 0;
    if (match >= 0)
        m_index = static_cast<int>(match);
}

void KREDSPPageScale::buildForm(QFormLayout* form)
{
    QComboBox* choice = addChoice(form, tr("&Size:"), &m_index, m_choices.labels);
    QCheckBox* custom = addFlag(form, tr("&Custom size"), &m_custom);
    QSpinBox* width = addInt(nullptr, QString(), &m_width, 2, 16384);
    QSpinBox* height = addInt(nullptr, QString(), &m_height, 2, 16384);
    AddSizeRow(form, tr("&Width × height:"), width, height);
    auto enable = [this, choice, width, height] {
        choice->setEnabled(!m_custom);
        width->setEnabled(m_custom);
        height->setEnabled(m_custom);
    };
    addRefresher(enable);
    connect(custom, &QCheckBox::toggled, this, enable);
    connect(choice, &QComboBox::activated, this, [this](int index) { selectIndex(index); });
}

// ---- Scale Maximum ---------------------------------------------------------------------------

KREDSPPageScaleMax::KREDSPPageScaleMax(QObject* parent) : KRADSPPage(QStringLiteral("Scale Maximum"), parent)
{
    const KRADSPChoices choices = loadDSPChoices(QStringLiteral("Scale Data"));
    for (qsizetype i = 0; i < choices.values.size(); ++i) {
        if (const auto size = dspScaleSize(choices.values[i])) {
            m_labels.append(choices.labels[i]);
            m_sizes.push_back(*size);
        }
    }
    readArgs(QString());
}

QString KREDSPPageScaleMax::dspArgs() const
{
    const QString aspect = m_preserve ? QStringLiteral(":force_original_aspect_ratio=decrease") : QString();
    return QStringLiteral("-vf \"scale='min(%1,iw):min(%2,ih)'%3\"").arg(m_width).arg(m_height).arg(aspect);
}

void KREDSPPageScaleMax::selectIndex(int index)
{
    m_index = index;
    m_custom = false;
    if (index >= 0 && index < static_cast<int>(m_sizes.size())) {
        m_width = m_sizes[index].first;
        m_height = m_sizes[index].second;
    }
    settingsChanged();
}

void KREDSPPageScaleMax::setCustomSize(int width, int height)
{
    m_custom = true;
    m_width = width;
    m_height = height;
    settingsChanged();
}

void KREDSPPageScaleMax::setPreserveAspect(bool preserve)
{
    m_preserve = preserve;
    settingsChanged();
}

void KREDSPPageScaleMax::readArgs(const QString& args)
{
    if (args.isEmpty()) {
        m_preserve = false;
        m_width = 1920;
        m_height = 1080;
    } else {
        m_preserve = args.contains(QStringLiteral("force_original_aspect_ratio"));
        m_width = scanStringAfter(args, QStringLiteral("min("), QStringLiteral(",iw")).value_or(QString()).toInt();
        m_height = scanStringAfter(args, QStringLiteral(":min("), QStringLiteral(",ih")).value_or(QString()).toInt();
    }
    const auto match = std::find(m_sizes.begin(), m_sizes.end(), std::make_pair(m_width, m_height));
    m_custom = match == m_sizes.end();
    if (!m_custom)
        m_index = static_cast<int>(match - m_sizes.begin());
}

void KREDSPPageScaleMax::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Makes larger pictures smaller; smaller ones keep their size."));
    note->setWordWrap(true);
    form->addRow(note);
    QComboBox* choice = addChoice(form, tr("&Largest size:"), &m_index, m_labels);
    QCheckBox* custom = addFlag(form, tr("&Custom size"), &m_custom);
    QSpinBox* width = addInt(nullptr, QString(), &m_width, 2, 16384);
    QSpinBox* height = addInt(nullptr, QString(), &m_height, 2, 16384);
    AddSizeRow(form, tr("&Width × height:"), width, height);
    addFlag(form, tr("&Preserve the aspect ratio"), &m_preserve);
    auto enable = [this, choice, width, height] {
        choice->setEnabled(!m_custom);
        width->setEnabled(m_custom);
        height->setEnabled(m_custom);
    };
    addRefresher(enable);
    connect(custom, &QCheckBox::toggled, this, enable);
    connect(choice, &QComboBox::activated, this, [this](int index) { selectIndex(index); });
}

// ---- Crop ------------------------------------------------------------------------------------

QString KREDSPPageCrop::dspArgs() const
{
    return QStringLiteral("-vf crop=%1:%2:%3:%4").arg(m_width).arg(m_height).arg(m_x).arg(m_y);
}

void KREDSPPageCrop::setCrop(int width, int height, int x, int y)
{
    m_width = width;
    m_height = height;
    m_x = x;
    m_y = y;
    settingsChanged();
}

void KREDSPPageCrop::readArgs(const QString& args)
{
    const QStringList parts = scanStringAfter(args, QStringLiteral("=")).value_or(QString()).split(QLatin1Char(':'));
    if (parts.size() != 4)
        return;
    m_width = parts[0].toInt();
    m_height = parts[1].toInt();
    m_x = parts[2].toInt();
    m_y = parts[3].toInt();
}

void KREDSPPageCrop::buildForm(QFormLayout* form)
{
    m_widthBox = addInt(form, tr("&Width:"), &m_width, 2, 16384, tr(" px"));
    addInt(form, tr("&Height:"), &m_height, 2, 16384, tr(" px"));
    addInt(form, tr("&Left:"), &m_x, 0, 16384, tr(" px"));
    addInt(form, tr("&Top:"), &m_y, 0, 16384, tr(" px"));
}

// ---- Canvas Size -----------------------------------------------------------------------------

KREDSPPageCanvasSize::KREDSPPageCanvasSize(QObject* parent)
    : KRADSPPage(QStringLiteral("Canvas Size"), parent), m_position(dspCenteredPosition())
{
}

QString KREDSPPageCanvasSize::dspArgs() const
{
    const std::vector<KRADSPPosition>& positions = dspPositions();
    const QString position = m_position >= 0 && m_position < static_cast<int>(positions.size())
                                 ? positions[m_position].canvasValue
                                 : QString();
    return QStringLiteral("-vf \"scale=iw:ih,pad=%1:%2%3\"").arg(m_width).arg(m_height).arg(position);
}

void KREDSPPageCanvasSize::setCanvas(int width, int height, int position)
{
    m_width = width;
    m_height = height;
    m_position = position;
    settingsChanged();
}

void KREDSPPageCanvasSize::readArgs(const QString& args)
{
    const QStringList parts =
        scanStringAfter(args, QStringLiteral("pad="), QStringLiteral("\"")).value_or(QString()).split(QLatin1Char(':'));
    if (parts.size() < 2)
        return;
    m_width = parts[0].toInt();
    m_height = parts[1].toInt();
    const QString rest = QLatin1Char(':') + parts.mid(2).join(QLatin1Char(':'));
    const std::vector<KRADSPPosition>& positions = dspPositions();
    for (size_t i = 0; i < positions.size(); ++i) {
        if (positions[i].canvasValue == rest)
            m_position = static_cast<int>(i);
    }
}

void KREDSPPageCanvasSize::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Extends canvas size (no %1 resizing).").arg(QStringLiteral("video")));
    note->setWordWrap(true);
    form->addRow(note);
    QSpinBox* width = addInt(nullptr, QString(), &m_width, 2, 16384);
    QSpinBox* height = addInt(nullptr, QString(), &m_height, 2, 16384);
    AddSizeRow(form, tr("&Canvas size:"), width, height);
    addChoice(form, tr("%1 &position:").arg(QStringLiteral("Video")), &m_position, dspPositionLabels());
}

// ---- Flip, Rotate ----------------------------------------------------------------------------

QString KREDSPPageFlip::dspArgs() const
{
    return m_horizontal ? QStringLiteral("-vf hflip") : QStringLiteral("-vf vflip");
}

void KREDSPPageFlip::setHorizontal(bool horizontal)
{
    m_horizontal = horizontal;
    settingsChanged();
}

void KREDSPPageFlip::readArgs(const QString& args)
{
    m_horizontal = args == QLatin1String("-vf hflip");
}

void KREDSPPageFlip::buildForm(QFormLayout* form)
{
    auto* direction = new QComboBox;
    direction->addItems({tr("Upside down (vertical)"), tr("Mirror (horizontal)")});
    auto* label = new QLabel(tr("&Flip:"));
    label->setBuddy(direction);
    form->addRow(label, direction);
    addRefresher([this, direction] { direction->setCurrentIndex(m_horizontal ? 1 : 0); });
    connect(direction, &QComboBox::activated, this, [this](int index) { setHorizontal(index == 1); });
}

QString KREDSPPageRotate::dspArgs() const
{
    return QStringLiteral("-vf rotate='%1*PI/180'").arg(m_angle);
}

void KREDSPPageRotate::setAngle(int degrees)
{
    m_angle = degrees;
    settingsChanged();
}

void KREDSPPageRotate::readArgs(const QString& args)
{
    if (!args.isEmpty())
        m_angle = scanIntAfter(args, QStringLiteral("rotate='"));
}

void KREDSPPageRotate::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Turns the picture clockwise within its frame; corners that leave the frame "
                               "are cut off."));
    note->setWordWrap(true);
    form->addRow(note);
    addInt(form, tr("&Angle:"), &m_angle, -360, 360, QStringLiteral("\u00b0"));
}

// ---- Aspect ratio, frame rate, pixel format --------------------------------------------------

KREDSPPageAR::KREDSPPageAR(QObject* parent)
    : KREDSPPageDataChoice(QStringLiteral("Aspect Ratio"), QStringLiteral("Aspect Ratio Data"), tr("&Aspect ratio:"),
                           QString(), parent)
{
}

KREDSPPageFrameRate::KREDSPPageFrameRate(QObject* parent)
    : KREDSPPageDataChoice(QStringLiteral("Frame Rate"), QStringLiteral("Frame Rate Data"), tr("&Frame rate:"),
                           QStringLiteral("25 (PAL)"), parent)
{
    readArgs(QString());
}

KREDSPPagePixelFormat::KREDSPPagePixelFormat(QObject* parent)
    : KRADSPPage(QStringLiteral("Pixel Format"), parent), m_formats(loadDSPLines(QStringLiteral("Pixel Formats")))
{
}

QString KREDSPPagePixelFormat::dspArgs() const
{
    // Through the list, so that a typed name with a blank stays one value.
    QKElemValueList list;
    list.addElem(QStringLiteral("pix_fmt"), m_format);
    return list.mergeToString_alternate();
}

void KREDSPPagePixelFormat::setPixelFormat(const QString& format)
{
    m_format = format;
    settingsChanged();
}

void KREDSPPagePixelFormat::readArgs(const QString& args)
{
    m_format = QKElemValueList(args).findValue(QStringLiteral("pix_fmt"), QStringLiteral("yuv420p"));
}

void KREDSPPagePixelFormat::buildForm(QFormLayout* form)
{
    QComboBox* box = addTextChoice(form, tr("&Pixel format:"), &m_format, m_formats);
    box->setToolTip(tr("Any pixel format the encoder accepts; \u201cffmpeg -pix_fmts\u201d lists them"));
}

// ---- Deinterlace -----------------------------------------------------------------------------

QString KREDSPPageDeinterlace::dspArgs() const
{
    const int parity = m_parity == 2 ? -1 : m_parity;
    return QStringLiteral("-vf yadif='mode=%1:parity=%2:deint=%3'").arg(m_mode).arg(parity).arg(m_deint);
}

void KREDSPPageDeinterlace::setChoices(int mode, int parityIndex, int deint)
{
    m_mode = mode;
    m_parity = parityIndex;
    m_deint = deint;
    settingsChanged();
}

void KREDSPPageDeinterlace::readArgs(const QString& args)
{
    if (args.isEmpty())
        return;
    m_mode = std::clamp(scanIntAfter(args, QStringLiteral("mode=")), 0, 3);
    const int parity = scanIntAfter(args, QStringLiteral("parity="));
    m_parity = parity < 0 || parity > 1 ? 2 : parity;
    m_deint = std::clamp(scanIntAfter(args, QStringLiteral("deint=")), 0, 1);
}

void KREDSPPageDeinterlace::buildForm(QFormLayout* form)
{
    addChoice(form, tr("&Mode:"), &m_mode,
              {tr("One frame per frame"), tr("One frame per field (double rate)"),
               tr("One frame per frame, no spatial check"), tr("One frame per field, no spatial check")});
    addChoice(form, tr("&Field order:"), &m_parity, {tr("Top field first"), tr("Bottom field first"), tr("Automatic")});
    addChoice(form, tr("&Deinterlace:"), &m_deint, {tr("All frames"), tr("Frames marked as interlaced")});
}

// ---- Watermark -------------------------------------------------------------------------------

KREDSPPageWatermark::KREDSPPageWatermark(QObject* parent)
    : KRADSPPage(QStringLiteral("Watermark"), parent), m_position(dspRightBottomPosition())
{
}

QString KREDSPPageWatermark::dspArgs() const
{
    QKElemValueList list;
    if (!m_path.isEmpty())
        list.addElem(QStringLiteral("i"), m_path);
    const std::vector<KRADSPPosition>& positions = dspPositions();
    const int position = std::clamp(m_position, 0, static_cast<int>(positions.size()) - 1);
    list.addElem(QStringLiteral("filter_complex"), QStringLiteral("overlay=") + positions[position].watermarkValue);
    return list.mergeToString_alternate();
}

bool KREDSPPageWatermark::dspValidate()
{
    if (!m_path.trimmed().isEmpty())
        return true;
    if (isViewLoaded()) {
        auto* alert = new QMessageBox(QMessageBox::Warning, tr("Watermark"),
                                      tr("Choose the picture to put on the video."), QMessageBox::Ok, sheetParent());
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::WindowModal);
        alert->open();
        if (m_pathField)
            m_pathField->setFocus();
    }
    return false;
}

void KREDSPPageWatermark::setWatermark(const QString& path, int position)
{
    m_path = path;
    m_position = position;
    settingsChanged();
}

void KREDSPPageWatermark::readArgs(const QString& args)
{
    m_position = dspRightBottomPosition();
    if (args.isEmpty())
        return;
    const QKElemValueList list(args);
    m_path = list.findValue(QStringLiteral("i"), QString());
    const QString overlay = list.findValue(QStringLiteral("filter_complex"), QString());
    if (!overlay.startsWith(QLatin1String("overlay=")))
        return;
    const QString value = overlay.mid(8);
    const std::vector<KRADSPPosition>& positions = dspPositions();
    for (size_t i = 0; i < positions.size(); ++i) {
        if (positions[i].watermarkValue == value)
            m_position = static_cast<int>(i);
    }
}

QWidget* KREDSPPageWatermark::browse()
{
    auto* dialog = new QFileDialog(sheetParent(), tr("Watermark Picture"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(tr("PNG pictures (*.png)"));
    if (!m_path.isEmpty())
        dialog->setDirectory(QFileInfo(m_path).absolutePath());
    const QPointer<KREDSPPageWatermark> self(this);
    SheetFallback::beginFileSheet(dialog, sheetParent(), [self](const QString& path) {
        if (!self)
            return;
        self->m_path = path;
        self->settingsChanged();
    });
    return dialog;
}

void KREDSPPageWatermark::buildForm(QFormLayout* form)
{
    m_pathField = new QLineEdit;
    m_pathField->setMinimumWidth(260);
    m_pathField->setPlaceholderText(tr("A PNG picture"));
    auto* browseButton = new QPushButton(tr("&Browse…"));
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pathField, 1);
    layout->addWidget(browseButton);
    auto* label = new QLabel(tr("&Picture:"));
    label->setBuddy(m_pathField);
    form->addRow(label, row);
    addRefresher([this] {
        if (m_pathField->text() != m_path)
            m_pathField->setText(m_path);
    });
    connect(m_pathField, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_path = text;
        emit changed();
    });
    connect(browseButton, &QPushButton::clicked, this, [this] { browse(); });
    addChoice(form, tr("P&osition:"), &m_position, dspPositionLabels());
}

// ---- Denoisers -------------------------------------------------------------------------------

const QStringList& KREDSPPageDenoiserSpatial::presets()
{
    static const QStringList values = {QStringLiteral("m0=2:m1=1:m2=2:m3=3"), QStringLiteral("m0=3:m1=2:m2=2:m3=3"),
                                       QStringLiteral("m0=7:m1=7:m2=5:m3=5")};
    return values;
}

QString KREDSPPageDenoiserSpatial::dspArgs() const
{
    return QStringLiteral("-vf removegrain='%1'").arg(presets().value(std::clamp(m_preset, 0, 2)));
}

void KREDSPPageDenoiserSpatial::setPreset(int preset)
{
    m_preset = preset;
    settingsChanged();
}

void KREDSPPageDenoiserSpatial::readArgs(const QString& args)
{
    for (qsizetype i = 0; i < presets().size(); ++i) {
        if (args.contains(presets()[i])) {
            m_preset = static_cast<int>(i);
            return;
        }
    }
}

void KREDSPPageDenoiserSpatial::buildForm(QFormLayout* form)
{
    addChoice(form, tr("&Strength:"), &m_preset, {tr("Light"), tr("Medium"), tr("Strong")});
}

const std::vector<double>& KREDSPPageHQDN3D::strengths()
{
    static const std::vector<double> table = {0.2, 0.4, 0.4, 0.8, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 12,
                                              14,  16,  18,  20,  25, 30, 35, 40, 50, 60, 70, 80, 90, 100};
    return table;
}

int KREDSPPageHQDN3D::indexOfStrength(double value)
{
    const std::vector<double>& table = strengths();
    for (size_t i = 0; i < table.size(); ++i) {
        if (std::fabs(table[i] - value) <= 0.1 + 1e-9)
            return static_cast<int>(i);
    }
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i] >= value)
            return static_cast<int>(i);
    }
    // Stronger than the table goes: its strongest, not its weakest.
    return value > table.back() ? static_cast<int>(table.size()) - 1 : 0;
}

QString KREDSPPageHQDN3D::strengthText(int index)
{
    const double value = strengths()[std::clamp(index, 0, static_cast<int>(strengths().size()) - 1)];
    if (value == std::floor(value))
        return QString::number(static_cast<int>(value));
    return QString::asprintf("%.1f", value);
}

QString KREDSPPageHQDN3D::dspArgs() const
{
    return QStringLiteral("-vf hqdn3d='luma_spatial=%1:chroma_spatial=%2:luma_tmp=%3'")
        .arg(strengthText(m_index[0]), strengthText(m_index[1]), strengthText(m_index[2]));
}

void KREDSPPageHQDN3D::setIndexes(int lumaSpatial, int chromaSpatial, int lumaTemporal)
{
    m_index[0] = lumaSpatial;
    m_index[1] = chromaSpatial;
    m_index[2] = lumaTemporal;
    settingsChanged();
}

void KREDSPPageHQDN3D::readArgs(const QString& args)
{
    if (args.isEmpty())
        return;
    const QString keys[3] = {QStringLiteral("luma_spatial="), QStringLiteral("chroma_spatial="),
                             QStringLiteral("luma_tmp=")};
    for (int i = 0; i < 3; ++i)
        m_index[i] = indexOfStrength(scanFloatAfter(args, keys[i]));
}

void KREDSPPageHQDN3D::buildForm(QFormLayout* form)
{
    const int last = static_cast<int>(strengths().size()) - 1;
    addSlider(form, tr("&Luma spatial:"), &m_index[0], 0, last, &m_labels[0]);
    addSlider(form, tr("&Chroma spatial:"), &m_index[1], 0, last, &m_labels[1]);
    addSlider(form, tr("Luma &temporal:"), &m_index[2], 0, last, &m_labels[2]);
}

void KREDSPPageHQDN3D::updateLabels()
{
    const QString formats[3] = {QStringLiteral("Luma Spatial %1"), QStringLiteral("Chroma Spatial %1"),
                                QStringLiteral("Luma Temporal %1")};
    for (int i = 0; i < 3; ++i) {
        if (m_labels[i])
            m_labels[i]->setText(formats[i].arg(strengthText(m_index[i])));
    }
}

const QStringList& KREDSPPageDenoiserWavelet::methods()
{
    static const QStringList names = {QStringLiteral("Hard"), QStringLiteral("Soft"), QStringLiteral("Garrote")};
    return names;
}

QString KREDSPPageDenoiserWavelet::dspArgs() const
{
    return QString::asprintf("-vf vaguedenoiser='threshold=%.1f:method=", m_threshold) + method().toLower() +
           QStringLiteral(":nsteps=%1:planes=%2:percent=%3'").arg(m_steps).arg(m_planes).arg(m_percent);
}

void KREDSPPageDenoiserWavelet::readArgs(const QString& args)
{
    if (args.isEmpty())
        return;
    // Values ffmpeg refuses would fail every conversion: they are brought into its ranges.
    m_threshold = std::clamp(scanFloatAfter(args, QStringLiteral("threshold=")), 0.0, 1000.0);
    m_steps = std::clamp(scanIntAfter(args, QStringLiteral("nsteps=")), 1, 32);
    m_planes = std::clamp(scanIntAfter(args, QStringLiteral("planes=")), 0, 15);
    m_percent = std::clamp(scanIntAfter(args, QStringLiteral("percent=")), 0, 100);
    QString name = scanStringAfter(args, QStringLiteral("method="), QStringLiteral(":")).value_or(QString());
    if (!name.isEmpty())
        name = name.left(1).toUpper() + name.mid(1);
    const qsizetype index = methods().indexOf(name);
    if (index >= 0)
        m_method = static_cast<int>(index);
}

void KREDSPPageDenoiserWavelet::buildForm(QFormLayout* form)
{
    addRealSlider(form, tr("&Threshold:"), &m_threshold, 0.0, 20.0, 10, &m_thresholdLabel);
    addChoice(form, tr("&Method:"), &m_method, methods());
    addInt(form, tr("&Steps:"), &m_steps, 1, 32);
    addInt(form, tr("&Planes:"), &m_planes, 0, 15);
    addSlider(form, tr("St&rength:"), &m_percent, 0, 100, &m_percentLabel);
}

void KREDSPPageDenoiserWavelet::updateLabels()
{
    if (m_thresholdLabel)
        m_thresholdLabel->setText(QString::asprintf("Threshold %.1f", m_threshold));
    if (m_percentLabel)
        m_percentLabel->setText(QStringLiteral("Strength %1%").arg(m_percent));
}

// ---- Sharpen & Blur, Brightness & Contrast, Hue & Saturation ---------------------------------

namespace {

// The amount as the page shows it: to the hundredth, the slider's steps being twentieths.
// Without the rounding a twentieth such as 0.15 (0.1499... in binary) is shown as 0.15 and
// written as 0.1.
double ShownAmount(double amount)
{
    const double hundredths = std::round(amount * 100.0);
    return hundredths == 0.0 ? 0.0 : hundredths / 100.0; // no "-0.00"
}

// One decimal when that is all the amount has, so that texts of whole tenths stay as they
// were always written; two otherwise.
QString AmountText(double amount)
{
    const double shown = ShownAmount(amount);
    const bool tenths = std::fmod(std::round(shown * 100.0), 10.0) == 0.0;
    return QString::asprintf(tenths ? "%.1f" : "%.2f", shown);
}

} // namespace

QString KREDSPPageSharpenBlur::dspArgs() const
{
    const QString amount = AmountText(m_amount);
    return QStringLiteral("-vf \"unsharp=luma_amount=%1:chroma_amount=%1\"").arg(amount);
}

void KREDSPPageSharpenBlur::setAmount(double amount)
{
    m_amount = amount;
    settingsChanged();
}

QString KREDSPPageSharpenBlur::amountLabel() const
{
    const double shown = ShownAmount(m_amount);
    return shown >= 0 ? QString::asprintf("Sharpen %.2f", shown) : QString::asprintf("Blur %.2f", -shown);
}

void KREDSPPageSharpenBlur::readArgs(const QString& args)
{
    if (!args.isEmpty())
        m_amount = scanFloatAfter(args, QStringLiteral("luma_amount="));
}

void KREDSPPageSharpenBlur::buildForm(QFormLayout* form)
{
    addRealSlider(form, tr("&Amount:"), &m_amount, -2.0, 5.0, 20, &m_label);
}

void KREDSPPageSharpenBlur::updateLabels()
{
    if (m_label)
        m_label->setText(amountLabel());
}

QString KREDSPPageBrightnessContrast::dspArgs() const
{
    return QString::asprintf("-vf eq=\"brightness=%.2f:contrast=%.2f\"", m_brightness, m_contrast);
}

void KREDSPPageBrightnessContrast::setValues(double brightness, double contrast)
{
    m_brightness = brightness;
    m_contrast = contrast;
    settingsChanged();
}

void KREDSPPageBrightnessContrast::readArgs(const QString& args)
{
    if (args.isEmpty())
        return;
    m_brightness = scanFloatAfter(args, QStringLiteral("brightness="));
    // A text without a contrast keeps the picture's own (1), not none at all (0: grey).
    m_contrast = args.contains(QStringLiteral("contrast=")) ? scanFloatAfter(args, QStringLiteral("contrast=")) : 1.0;
}

void KREDSPPageBrightnessContrast::buildForm(QFormLayout* form)
{
    addRealSlider(form, tr("&Brightness:"), &m_brightness, -1.0, 1.0, 100, &m_brightnessLabel);
    addRealSlider(form, tr("&Contrast:"), &m_contrast, 0.0, 3.0, 100, &m_contrastLabel);
}

void KREDSPPageBrightnessContrast::updateLabels()
{
    if (m_brightnessLabel)
        m_brightnessLabel->setText(QString::asprintf("Brightness: %.2f", m_brightness));
    if (m_contrastLabel)
        m_contrastLabel->setText(QString::asprintf("Contrast: %.2f", m_contrast));
}

QString KREDSPPageHSB::dspArgs() const
{
    return QString::asprintf("-vf hue='h=%i:s=%.1f'", m_hue, m_saturation);
}

void KREDSPPageHSB::setValues(int hue, double saturation)
{
    m_hue = hue;
    m_saturation = saturation;
    settingsChanged();
}

void KREDSPPageHSB::readArgs(const QString& args)
{
    if (args.isEmpty()) {
        m_hue = 0;
        m_saturation = 1.0;
        return;
    }
    m_hue = scanIntAfter(args, QStringLiteral("h="));
    m_saturation = args.contains(QStringLiteral("s=")) ? scanFloatAfter(args, QStringLiteral("s=")) : 1.0;
}

void KREDSPPageHSB::buildForm(QFormLayout* form)
{
    addInt(form, tr("&Hue:"), &m_hue, -180, 180, QStringLiteral("\u00b0"));
    addRealSlider(form, tr("&Saturation:"), &m_saturation, 0.0, 10.0, 10, &m_saturationLabel);
}

void KREDSPPageHSB::updateLabels()
{
    if (m_saturationLabel)
        m_saturationLabel->setText(QString::asprintf("Saturation %.1f", m_saturation));
}

// ---- Scale Percentage ------------------------------------------------------------------------

QString KREDSPPageScalePercentage::dspArgs() const
{
    return QStringLiteral("-filter:v \"scale=iw*(%1/100):ih*(%2/100)\"")
        .arg(std::lround(m_horizontal * 100.0))
        .arg(std::lround(m_vertical * 100.0));
}

void KREDSPPageScalePercentage::setFactors(double horizontal, double vertical)
{
    m_horizontal = horizontal;
    m_vertical = vertical;
    settingsChanged();
}

void KREDSPPageScalePercentage::readArgs(const QString& args)
{
    if (args.isEmpty())
        return;
    const int horizontal = scanIntAfter(args, QStringLiteral("iw*("));
    const int vertical = scanIntAfter(args, QStringLiteral("ih*("));
    if (horizontal > 0)
        m_horizontal = horizontal / 100.0;
    if (vertical > 0)
        m_vertical = vertical / 100.0;
}

void KREDSPPageScalePercentage::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Scales %1, as a percentage of its original size.").arg(QStringLiteral("video")));
    note->setWordWrap(true);
    form->addRow(note);
    QDoubleSpinBox* horizontal = addReal(form, tr("&Width:"), &m_horizontal, 0.01, 10.0, 2, 0.05);
    QDoubleSpinBox* vertical = addReal(form, tr("&Height:"), &m_vertical, 0.01, 10.0, 2, 0.05);
    for (QDoubleSpinBox* box : {horizontal, vertical}) {
        box->setSuffix(QStringLiteral(" \u00d7"));
        box->setToolTip(tr("0.5 is half the size, 2 twice the size"));
    }
}
