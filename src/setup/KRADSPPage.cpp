#include "setup/KRADSPPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <cmath>

#include "kit/StringScan.h"
#include "platform/XStrQString.h"
#include "xclass/XEnvironment.h"

KRADSPPage::KRADSPPage(const QString& effectName, QObject* parent) : QKViewController(parent), m_effectName(effectName)
{
    setTitle(effectName);
}

KRADSPPage::~KRADSPPage() = default;

void KRADSPPage::setDspArgs(const QString& args)
{
    readArgs(args);
    refreshControls();
}

QWidget* KRADSPPage::sheetParent()
{
    QWidget* page = view();
    return page->window() ? page->window() : page;
}

void KRADSPPage::loadView()
{
    auto* view = new QWidget;
    auto* form = new QFormLayout(view);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_refreshers.clear();
    buildForm(form);
    setView(view);
    refreshControls();
}

void KRADSPPage::refreshControls()
{
    if (isViewLoaded()) {
        m_refreshing = true;
        for (const std::function<void()>& refresh : m_refreshers)
            refresh();
        m_refreshing = false;
    }
    updateLabels();
}

void KRADSPPage::settingsChanged()
{
    refreshControls();
    emit changed();
}

void KRADSPPage::afterControlChange()
{
    if (m_refreshing)
        return;
    updateLabels();
    emit changed();
}

void KRADSPPage::addRefresher(std::function<void()> refresh)
{
    m_refreshers.push_back(std::move(refresh));
}

namespace {

// A null form leaves the field for the caller to place.
void AddRow(QFormLayout* form, const QString& label, QWidget* field)
{
    if (!form)
        return;
    if (label.isEmpty()) {
        form->addRow(field);
        return;
    }
    auto* text = new QLabel(label);
    text->setBuddy(field);
    form->addRow(text, field);
}

// A field with a value label after it, as one row.
QWidget* WithValueLabel(QWidget* field, QLabel** valueLabel)
{
    if (!valueLabel)
        return field;
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    *valueLabel = new QLabel;
    (*valueLabel)->setMinimumWidth(110);
    layout->addWidget(*valueLabel);
    return row;
}

} // namespace

QSpinBox* KRADSPPage::addInt(QFormLayout* form, const QString& label, int* value, int minimum, int maximum,
                             const QString& suffix)
{
    auto* box = new QSpinBox;
    box->setRange(minimum, maximum);
    box->setSuffix(suffix);
    box->setAccelerated(true);
    AddRow(form, label, box);
    addRefresher([box, value] { box->setValue(*value); });
    connect(box, &QSpinBox::valueChanged, this, [this, value](int v) {
        if (m_refreshing)
            return;
        *value = v;
        afterControlChange();
    });
    return box;
}

QDoubleSpinBox* KRADSPPage::addReal(QFormLayout* form, const QString& label, double* value, double minimum,
                                    double maximum, int decimals, double step)
{
    auto* box = new QDoubleSpinBox;
    box->setRange(minimum, maximum);
    box->setDecimals(decimals);
    box->setSingleStep(step);
    AddRow(form, label, box);
    addRefresher([box, value] { box->setValue(*value); });
    connect(box, &QDoubleSpinBox::valueChanged, this, [this, value](double v) {
        if (m_refreshing)
            return;
        *value = v;
        afterControlChange();
    });
    return box;
}

QDoubleSpinBox* KRADSPPage::addSeconds(QFormLayout* form, const QString& label, int* milliseconds,
                                       double maximumSeconds)
{
    auto* box = new QDoubleSpinBox;
    box->setRange(0.0, maximumSeconds);
    box->setDecimals(3);
    box->setSingleStep(0.5);
    box->setSuffix(tr(" s"));
    AddRow(form, label, box);
    addRefresher([box, milliseconds] { box->setValue(*milliseconds / 1000.0); });
    connect(box, &QDoubleSpinBox::valueChanged, this, [this, milliseconds](double seconds) {
        if (m_refreshing)
            return;
        *milliseconds = static_cast<int>(std::lround(seconds * 1000.0));
        afterControlChange();
    });
    return box;
}

QSlider* KRADSPPage::addSlider(QFormLayout* form, const QString& label, int* value, int minimum, int maximum,
                               QLabel** valueLabel)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setMinimumWidth(220);
    AddRow(form, label, WithValueLabel(slider, valueLabel));
    addRefresher([slider, value] { slider->setValue(*value); });
    connect(slider, &QSlider::valueChanged, this, [this, value](int v) {
        if (m_refreshing)
            return;
        *value = v;
        afterControlChange();
    });
    return slider;
}

QSlider* KRADSPPage::addRealSlider(QFormLayout* form, const QString& label, double* value, double minimum,
                                   double maximum, int scale, QLabel** valueLabel)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(static_cast<int>(std::lround(minimum * scale)), static_cast<int>(std::lround(maximum * scale)));
    slider->setMinimumWidth(220);
    AddRow(form, label, WithValueLabel(slider, valueLabel));
    addRefresher([slider, value, scale] { slider->setValue(static_cast<int>(std::lround(*value * scale))); });
    connect(slider, &QSlider::valueChanged, this, [this, value, scale](int v) {
        if (m_refreshing)
            return;
        *value = static_cast<double>(v) / scale;
        afterControlChange();
    });
    return slider;
}

QCheckBox* KRADSPPage::addFlag(QFormLayout* form, const QString& text, bool* value)
{
    auto* box = new QCheckBox(text);
    form->addRow(QString(), box);
    addRefresher([box, value] { box->setChecked(*value); });
    connect(box, &QCheckBox::toggled, this, [this, value](bool on) {
        if (m_refreshing)
            return;
        *value = on;
        afterControlChange();
    });
    return box;
}

QComboBox* KRADSPPage::addChoice(QFormLayout* form, const QString& label, int* index, const QStringList& items)
{
    auto* box = new QComboBox;
    box->addItems(items);
    AddRow(form, label, box);
    addRefresher([box, index] { box->setCurrentIndex(*index >= 0 && *index < box->count() ? *index : -1); });
    connect(box, &QComboBox::currentIndexChanged, this, [this, index](int i) {
        if (m_refreshing || i < 0)
            return;
        *index = i;
        afterControlChange();
    });
    return box;
}

QLineEdit* KRADSPPage::addText(QFormLayout* form, const QString& label, QString* value)
{
    auto* field = new QLineEdit;
    field->setMinimumWidth(280);
    AddRow(form, label, field);
    addRefresher([field, value] {
        if (field->text() != *value)
            field->setText(*value);
    });
    connect(field, &QLineEdit::textChanged, this, [this, value](const QString& text) {
        if (m_refreshing)
            return;
        *value = text;
        afterControlChange();
    });
    return field;
}

QComboBox* KRADSPPage::addTextChoice(QFormLayout* form, const QString& label, QString* value, const QStringList& items)
{
    auto* box = new QComboBox;
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    AddRow(form, label, box);
    addRefresher([box, value] {
        if (box->currentText() != *value)
            box->setCurrentText(*value);
    });
    connect(box, &QComboBox::currentTextChanged, this, [this, value](const QString& text) {
        if (m_refreshing)
            return;
        *value = text.trimmed();
        afterControlChange();
    });
    return box;
}

const std::vector<KRADSPPosition>& dspPositions()
{
    static const std::vector<KRADSPPosition> positions = {
        {QStringLiteral("Top Left"), QStringLiteral(":0:0"), QStringLiteral("0:0")},
        {QStringLiteral("Top Center"), QStringLiteral(":(ow-iw)/2:0"), QStringLiteral("(main_w-overlay_w)/2:0")},
        {QStringLiteral("Top Right"), QStringLiteral(":ow-iw:0"), QStringLiteral("main_w-overlay_w:0")},
        {QStringLiteral("Left Middle"), QStringLiteral(":0:(oh-ih)/2"), QStringLiteral("0:(main_h-overlay_h)/2")},
        {QStringLiteral("Centered"), QStringLiteral(":(ow-iw)/2:(oh-ih)/2"),
         QStringLiteral("(main_w-overlay_w)/2:(main_h-overlay_h)/2")},
        {QStringLiteral("Right Middle"), QStringLiteral(":ow-iw:(oh-ih)/2"),
         QStringLiteral("main_w-overlay_w:(main_h-overlay_h)/2")},
        {QStringLiteral("Left Bottom"), QStringLiteral(":0:oh-ih"), QStringLiteral("0:main_h-overlay_h")},
        {QStringLiteral("Centered Bottom"), QStringLiteral(":(ow-iw)/2:oh-ih"),
         QStringLiteral("(main_w-overlay_w)/2:main_h-overlay_h")},
        {QStringLiteral("Right Bottom"), QStringLiteral(":ow-iw:oh-ih"),
         QStringLiteral("main_w-overlay_w:main_h-overlay_h")},
    };
    return positions;
}

QStringList dspPositionLabels()
{
    QStringList labels;
    for (const KRADSPPosition& position : dspPositions())
        labels.append(position.label);
    return labels;
}

int dspCenteredPosition()
{
    return 4;
}

int dspRightBottomPosition()
{
    return 8;
}

namespace {

// The text of "NAME.txt" in the resources folder; none when it cannot be read.
std::optional<QString> ReadResourceText(const QString& resourceName)
{
    // Data files are small; a name that is not one of ours must not reach outside the folder.
    if (resourceName.isEmpty() || resourceName.contains(QLatin1Char('/')))
        return std::nullopt;
    QFile file(XStrToQString(XGetResourcesFolder()) + QLatin1Char('/') + resourceName + QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    constexpr qint64 kMaxDataFile = 1 << 20;
    const QByteArray bytes = file.read(kMaxDataFile);
    return QString::fromUtf8(bytes);
}

} // namespace

KRADSPChoices dspChoicesFromText(const QString& text)
{
    KRADSPChoices choices;
    const QStringList lines = splitByLines(text);
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        choices.labels.append(lines[i]);
        choices.values.append(lines[i + 1]);
    }
    return choices;
}

KRADSPChoices loadDSPChoices(const QString& resourceName)
{
    const std::optional<QString> text = ReadResourceText(resourceName);
    return text ? dspChoicesFromText(*text) : KRADSPChoices();
}

QStringList loadDSPLines(const QString& resourceName)
{
    QStringList values;
    if (const std::optional<QString> text = ReadResourceText(resourceName)) {
        for (const QString& line : splitByLines(*text)) {
            if (!line.trimmed().isEmpty())
                values.append(line.trimmed());
        }
    }
    return values;
}

KREDSPPageFixed::KREDSPPageFixed(const QString& name, const QString& args, const QString& explanation, QObject* parent)
    : KRADSPPage(name, parent), m_args(args), m_explanation(explanation)
{
}

void KREDSPPageFixed::buildForm(QFormLayout* form)
{
    auto* text = new QLabel(m_explanation);
    text->setWordWrap(true);
    text->setMinimumWidth(320);
    form->addRow(text);
}

KREDSPPageDataChoice::KREDSPPageDataChoice(const QString& name, const QString& resource, const QString& label,
                                           const QString& fallbackLabel, QObject* parent)
    : KRADSPPage(name, parent), m_choices(loadDSPChoices(resource)), m_label(label), m_fallbackLabel(fallbackLabel)
{
}

QString KREDSPPageDataChoice::dspArgs() const
{
    return m_index >= 0 && m_index < m_choices.values.size() ? m_choices.values[m_index] : QString();
}

void KREDSPPageDataChoice::setIndex(int index)
{
    m_index = index;
    settingsChanged();
}

void KREDSPPageDataChoice::readArgs(const QString& args)
{
    const qsizetype match = m_choices.values.indexOf(args);
    if (match >= 0)
        m_index = static_cast<int>(match);
    else if (!m_fallbackLabel.isEmpty() && m_choices.labels.contains(m_fallbackLabel))
        m_index = static_cast<int>(m_choices.labels.indexOf(m_fallbackLabel));
}

void KREDSPPageDataChoice::buildForm(QFormLayout* form)
{
    m_box = addChoice(form, m_label, &m_index, m_choices.labels);
}
