#include "setup/KREEncoderPageContactSheet.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "job/QKElemValueList.h"
#include "setup/KRAEncoderPageHost.h"

namespace {

constexpr int kDefaultColumns = 4;
constexpr int kDefaultRows = 4;
constexpr int kDefaultWidth = 1920;
constexpr int kDefaultPadding = 4;

// A stored number: none when absent; values below 1 read as 0 (the default follows), values
// beyond the range as its top. Read as a double so that neither a long run of digits nor a
// minus sign can wrap around.
std::optional<int> StoredNumber(const QKElemValueList& list, const QString& name, int maximum)
{
    if (!list.containsElem(name))
        return std::nullopt;
    const double value = list.findDoubleValue(name);
    if (!(value >= 1.0))
        return 0;
    if (value >= maximum)
        return maximum;
    return static_cast<int>(value);
}

// Scans hexadecimal digits as the colour's old writer did: leading blanks, an optional "0x",
// the digits up to the first other character; too many digits read as all ones.
uint32_t ScanHex(const QString& text)
{
    int i = 0;
    while (i < text.size() && text.at(i).isSpace())
        i++;
    if (i + 1 < text.size() && text.at(i) == QLatin1Char('0') &&
        (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X')))
        i += 2;
    uint64_t value = 0;
    for (; i < text.size(); i++) {
        const char16_t c = text.at(i).unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

QString ExtensionOf(const QString& format)
{
    QString ext = format.toLower();
    if (!ext.startsWith(QLatin1Char('.')))
        ext.prepend(QLatin1Char('.'));
    return ext;
}

QSpinBox* NumberBox(int minimum, int maximum, const QString& suffix)
{
    auto* box = new QSpinBox;
    box->setRange(minimum, maximum);
    box->setSuffix(suffix);
    // A value counts once it is entered: a half-typed number must not reshape the grid.
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

KREEncoderPageContactSheet::KREEncoderPageContactSheet(KRAEncoderPageHost* host, QObject* parent)
    : KREEncoderPage(host, parent)
{
    setTitle(QStringLiteral("Contact Sheet"));
}

KREEncoderPageContactSheet::~KREEncoderPageContactSheet() = default;

std::optional<QColor> KREEncoderPageContactSheet::importColor(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    const uint32_t v = ScanHex(*text);
    return QColor(static_cast<int>(v & 255), static_cast<int>((v >> 8) & 255), static_cast<int>((v >> 16) & 255));
}

QString KREEncoderPageContactSheet::exportColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    const auto component = [](float f) { return static_cast<uint32_t>(std::lround(std::clamp(f, 0.0f, 1.0f) * 255)); };
    const uint32_t v = component(rgb.redF()) + 256 * component(rgb.greenF()) + 65536 * component(rgb.blueF());
    return QStringLiteral("%1").arg(v, 6, 16, QLatin1Char('0')).toUpper();
}

void KREEncoderPageContactSheet::loadView()
{
    auto* view = new QWidget;
    auto* form = new QFormLayout(view);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);

    m_columnsBox = NumberBox(1, kMaxColumns, QString());
    m_rowsBox = NumberBox(1, kMaxRows, QString());
    m_widthBox = NumberBox(kMinWidth, kMaxWidth, QStringLiteral(" px"));
    m_paddingBox = NumberBox(1, kMaxPadding, QStringLiteral(" px"));
    m_formatBox = new QComboBox;
    m_formatBox->addItems(codecChoices());
    m_colorButton = new QPushButton;
    m_colorButton->setToolTip(QStringLiteral("Choose the colour behind the thumbnails"));
    m_topInfoBox = new QCheckBox(QStringLiteral("Show the file's &details above the thumbnails"));

    form->addRow(QStringLiteral("&Columns:"), m_columnsBox);
    form->addRow(QStringLiteral("&Rows:"), m_rowsBox);
    form->addRow(QStringLiteral("Image &width:"), m_widthBox);
    form->addRow(QStringLiteral("&Padding:"), m_paddingBox);
    form->addRow(QStringLiteral("&Format:"), m_formatBox);
    form->addRow(QStringLiteral("&Background:"), m_colorButton);
    form->addRow(QString(), m_topInfoBox);

    for (QSpinBox* box : {m_columnsBox.data(), m_rowsBox.data(), m_widthBox.data(), m_paddingBox.data()})
        connect(box, &QSpinBox::valueChanged, this, [this] { onChanged(); });
    connect(m_formatBox, &QComboBox::currentIndexChanged, this, [this] { onChanged(); });
    connect(m_topInfoBox, &QCheckBox::toggled, this, [this] { onChanged(); });
    connect(m_colorButton, &QPushButton::clicked, this, [this] { onColorButton(); });
    setView(view);
}

void KREEncoderPageContactSheet::viewDidLoad()
{
    argsFromHost();
    validate();
    showValues();
}

void KREEncoderPageContactSheet::argsFromHost()
{
    if (!host())
        return;
    const QKElemValueList list(host()->encoderArgs());
    if (list.count() == 0)
        return;
    m_columns = StoredNumber(list, QStringLiteral("contact_col"), kMaxColumns);
    m_rows = StoredNumber(list, QStringLiteral("contact_row"), kMaxRows);
    m_width = StoredNumber(list, QStringLiteral("contact_width"), kMaxWidth);
    m_padding = StoredNumber(list, QStringLiteral("contact_padding"), kMaxPadding);
    if (m_width && *m_width >= 1 && *m_width < kMinWidth)
        m_width = kMinWidth;
    if (list.containsElem(QStringLiteral("contact_jpeg")))
        m_format = QStringLiteral("JPEG");
    else if (list.containsElem(QStringLiteral("contact_png")))
        m_format = QStringLiteral("PNG");
    m_color = importColor(list.findValue(QStringLiteral("contact_backcol")));
    m_topInfo = list.containsElem(QStringLiteral("contact_topinfo"));
}

void KREEncoderPageContactSheet::validate()
{
    bool changed = false;
    const auto fill = [&changed](std::optional<int>& value, int fallback) {
        if (!value || *value < 1) {
            value = fallback;
            changed = true;
        }
    };
    fill(m_columns, kDefaultColumns);
    fill(m_rows, kDefaultRows);
    fill(m_width, kDefaultWidth);
    fill(m_padding, kDefaultPadding);
    if (m_format.isEmpty()) {
        m_format = QStringLiteral("PNG");
        changed = true;
    }
    if (!m_color) {
        m_color = importColor(QStringLiteral("000000"));
        changed = true;
    }
    if (!m_topInfo) {
        m_topInfo = true;
        changed = true;
    }
    if (fitGrid())
        changed = true;
    if (changed)
        argsToHost();
}

bool KREEncoderPageContactSheet::fitGrid()
{
    if (!m_columns || !m_width || !m_padding)
        return false;
    const int cols = *m_columns;
    const auto thumbWidth = [&] { return (*m_width - (cols - 1) * *m_padding) / cols; };
    if (thumbWidth() >= kMinThumbWidth)
        return false;
    if (cols > 1)
        *m_padding = std::max(1, (*m_width - kMinThumbWidth * cols) / (cols - 1));
    if (thumbWidth() < kMinThumbWidth)
        *m_width = kMinThumbWidth * cols + (cols - 1) * *m_padding;
    return true;
}

QString KREEncoderPageContactSheet::pageArgs() const
{
    QKElemValueList list;
    list.addElemInt(QStringLiteral("contact_col"), m_columns.value_or(0));
    list.addElemInt(QStringLiteral("contact_row"), m_rows.value_or(0));
    const QString format = m_format.isEmpty() ? QStringLiteral("png") : m_format.toLower();
    if (format == QLatin1String("png"))
        list.addElemInt(QStringLiteral("contact_png"), 1);
    if (format == QLatin1String("jpeg"))
        list.addElemInt(QStringLiteral("contact_jpeg"), 1);
    list.addElemInt(QStringLiteral("contact_width"), m_width.value_or(0));
    list.addElemInt(QStringLiteral("contact_padding"), m_padding.value_or(0));
    if (m_color)
        list.addElem(QStringLiteral("contact_backcol"), exportColor(*m_color));
    if (m_topInfo.value_or(false))
        list.addElemInt(QStringLiteral("contact_topinfo"), 1);
    return list.mergeToString_alternate();
}

void KREEncoderPageContactSheet::argsToHost()
{
    if (!host())
        return;
    host()->setEncoderArgs(pageArgs());
    host()->encoderArgsV2().customFormatExt = ExtensionOf(m_format.isEmpty() ? QStringLiteral("png") : m_format);
}

QStringList KREEncoderPageContactSheet::codecChoices() const
{
    return {QStringLiteral("PNG"), QStringLiteral("JPEG")};
}

void KREEncoderPageContactSheet::selectCodecChoice(int index)
{
    const QStringList choices = codecChoices();
    if (index < 0 || index >= choices.size())
        return;
    view();
    m_format = choices.at(index);
    showValues();
    argsToHost();
}

void KREEncoderPageContactSheet::setBackColor(const QColor& color)
{
    if (!color.isValid())
        return;
    m_color = color.toRgb();
    showColor();
    argsToHost();
}

void KREEncoderPageContactSheet::showValues()
{
    if (!m_columnsBox)
        return;
    m_showing = true;
    m_columnsBox->setValue(m_columns.value_or(kDefaultColumns));
    m_rowsBox->setValue(m_rows.value_or(kDefaultRows));
    m_widthBox->setValue(m_width.value_or(kDefaultWidth));
    m_paddingBox->setValue(m_padding.value_or(kDefaultPadding));
    m_formatBox->setCurrentIndex(m_format.compare(QLatin1String("JPEG"), Qt::CaseInsensitive) == 0 ? 1 : 0);
    m_topInfoBox->setChecked(m_topInfo.value_or(true));
    m_showing = false;
    showColor();
}

void KREEncoderPageContactSheet::showColor()
{
    if (!m_colorButton)
        return;
    const QColor color = m_color.value_or(QColor(Qt::black));
    QPixmap swatch(28, 14);
    swatch.fill(color);
    QPainter painter(&swatch);
    painter.setPen(m_colorButton->palette().color(QPalette::WindowText));
    painter.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    painter.end();
    m_colorButton->setIcon(QIcon(swatch));
    m_colorButton->setIconSize(swatch.size());
    m_colorButton->setText(QStringLiteral("#%1").arg(color.name(QColor::HexRgb).mid(1).toUpper()));
}

void KREEncoderPageContactSheet::onChanged()
{
    if (m_showing || !m_columnsBox)
        return;
    m_columns = m_columnsBox->value();
    m_rows = m_rowsBox->value();
    m_width = m_widthBox->value();
    m_padding = m_paddingBox->value();
    m_format = m_formatBox->currentText();
    m_topInfo = m_topInfoBox->isChecked();
    if (fitGrid())
        showValues();
    argsToHost();
}

void KREEncoderPageContactSheet::onColorButton()
{
    if (!m_colorButton)
        return;
    // Window-modal and deleted with the page's view: a colour chosen after the page has gone
    // reaches nobody.
    auto* dialog = new QColorDialog(m_color.value_or(QColor(Qt::black)), m_colorButton->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Background Colour"));
    connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor& color) { setBackColor(color); });
    dialog->open();
}
