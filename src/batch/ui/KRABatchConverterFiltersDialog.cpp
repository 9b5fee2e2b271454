#include "batch/ui/KRABatchConverterFiltersDialog.h"

#include "batch/QKMediaFormatFilter.h"
#include "batch/ui/KRABatchConvertDialog.h"
#include "xclass/XMainQueue.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {

void SortByName(QList<KRAFiltersEntry>& rows)
{
    std::stable_sort(rows.begin(), rows.end(),
                     [](const KRAFiltersEntry& a, const KRAFiltersEntry& b) { return a.name.compare(b.name) < 0; });
}

// The check list's rows: a tick and a name.
class FiltersModel : public QAbstractTableModel {
public:
    FiltersModel(QList<KRAFiltersEntry>* rows, QObject* parent) : QAbstractTableModel(parent), m_rows(rows) {}

    void reset()
    {
        beginResetModel();
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() || !m_rows ? 0 : static_cast<int>(m_rows->size());
    }
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 1; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const KRAFiltersEntry& row = (*m_rows)[index.row()];
        if (role == Qt::DisplayRole)
            return row.name;
        if (role == Qt::CheckStateRole)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= rowCount())
            return false;
        (*m_rows)[index.row()].checked = value.toInt() == Qt::Checked;
        emit dataChanged(index, index);
        return true;
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable : Qt::NoItemFlags;
    }

private:
    QList<KRAFiltersEntry>* m_rows;
};

// Hands the cache's answer to the dialog on the main thread, while the dialog still exists.
class FiltersCallback : public KRAMetaFieldCacheCallback {
public:
    explicit FiltersCallback(const std::weak_ptr<KRABatchConverterFiltersDialog>& dialog) : m_dialog(dialog) {}
    void deliverMetaFieldCacheResults(const KRAMetaFieldResults& results) override
    {
        const std::weak_ptr<KRABatchConverterFiltersDialog> dialog = m_dialog;
        XPostToMainThread([dialog, results] {
            if (const auto self = dialog.lock())
                self->deliverMetaFieldCacheResults(results);
        });
    }

private:
    std::weak_ptr<KRABatchConverterFiltersDialog> m_dialog;
};

} // namespace

// ---- Check-list pane ----

KRABatchConverterFiltersPane::KRABatchConverterFiltersPane(QObject* parent) : QKViewController(parent) {}
KRABatchConverterFiltersPane::~KRABatchConverterFiltersPane() = default;

void KRABatchConverterFiltersPane::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* table = new QTableView(view);
    table->horizontalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(false);
    table->setAlternatingRowColors(true);
    auto* progress = new QProgressBar(view);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setVisible(loading());
    layout->addWidget(progress);
    layout->addWidget(table, 1);
    auto* bar = new QHBoxLayout;
    const std::pair<const char*, void (KRABatchConverterFiltersPane::*)()> buttons[] = {
        {"Include All", &KRABatchConverterFiltersPane::onCheckAll},
        {"Exclude All", &KRABatchConverterFiltersPane::onUncheckAll},
        {"Invert", &KRABatchConverterFiltersPane::onInvertSelection}};
    for (const auto& [text, action] : buttons) {
        auto* button = new QPushButton(QString::fromLatin1(text), view);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, action = action] { (this->*action)(); });
        bar->addWidget(button);
    }
    auto* include = new QPushButton(QStringLiteral("Include Selected"), view);
    auto* exclude = new QPushButton(QStringLiteral("Exclude Selected"), view);
    for (QPushButton* button : {include, exclude}) {
        button->setAutoDefault(false);
        button->setEnabled(false);
        bar->addWidget(button);
    }
    connect(include, &QPushButton::clicked, this, [this] { onCheckSelected(true); });
    connect(exclude, &QPushButton::clicked, this, [this] { onCheckSelected(false); });
    bar->addStretch(1);
    layout->addLayout(bar);
    m_model = new FiltersModel(nullptr, table);
    m_table = table;
    m_progress = progress;
    setView(view);
    reload();
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [table, include, exclude] {
        const bool any = table->selectionModel()->hasSelection();
        include->setEnabled(any);
        exclude->setEnabled(any);
    });
}

void KRABatchConverterFiltersPane::reload()
{
    if (!m_table)
        return;
    // A new model over the rows: the old one pointed at the rows before.
    QAbstractTableModel* old = m_model;
    m_model = new FiltersModel(m_data ? &*m_data : nullptr, m_table);
    m_table->setModel(m_model);
    if (old && old != m_model)
        old->deleteLater();
    if (m_progress)
        m_progress->setVisible(loading());
}

void KRABatchConverterFiltersPane::deliverData(const QList<KRAFiltersEntry>& rows)
{
    m_data = rows;
    reload();
}

void KRABatchConverterFiltersPane::setAll(const std::function<bool(bool)>& rule)
{
    if (!m_data)
        return;
    for (KRAFiltersEntry& row : *m_data)
        row.checked = rule(row.checked);
    if (m_model)
        static_cast<FiltersModel*>(m_model)->reset();
}

void KRABatchConverterFiltersPane::setRowChecked(int row, bool checked)
{
    if (m_data && row >= 0 && row < m_data->size())
        (*m_data)[row].checked = checked;
    if (m_model)
        emit m_model->dataChanged(m_model->index(row, 0), m_model->index(row, 0));
}

void KRABatchConverterFiltersPane::onCheckSelected(bool checked)
{
    if (!m_table || !m_data)
        return;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        if ((*m_data)[index.row()].checked != checked)
            setRowChecked(index.row(), checked);
}

// ---- Date pane ----

KRABatchConverterFiltersPaneDate::KRABatchConverterFiltersPaneDate(QObject* parent) : QKViewController(parent)
{
    setValueDays(0);
}

const QStringList& KRABatchConverterFiltersPaneDate::values()
{
    static const QStringList kValues{
        QStringLiteral("[date not checked, all files included]"),
        QStringLiteral("1 Day (24 hours)"),
        QStringLiteral("2 Days"),
        QStringLiteral("3 Days"),
        QStringLiteral("4 Days"),
        QStringLiteral("5 Days"),
        QStringLiteral("6 Days"),
        QStringLiteral("7 Days (1 week)"),
        QStringLiteral("14 Days (2 weeks)"),
        QStringLiteral("21 Days (3 weeks)"),
        QStringLiteral("30 Days (1 month)"),
        QStringLiteral("60 Days (2 months)"),
        QStringLiteral("91 Days (1/4 year)"),
        QStringLiteral("182 Days (1/2 year)"),
        QStringLiteral("273 Days (3/4 year)"),
        QStringLiteral("365 Days (1 year)"),
    };
    return kValues;
}

int KRABatchConverterFiltersPaneDate::daysOf(const QString& text)
{
    static const QRegularExpression kLeading(QStringLiteral("^\\s*([+-]?\\d+)"));
    const QRegularExpressionMatch match = kLeading.match(text);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const int days = match.captured(1).toInt(&ok);
    return ok ? days : 0;
}

QString KRABatchConverterFiltersPaneDate::strValue() const
{
    return m_combo ? m_combo->currentText() : m_strValue;
}

void KRABatchConverterFiltersPaneDate::setStrValue(const QString& text)
{
    m_strValue = text;
    if (m_combo)
        m_combo->setCurrentText(text);
}

void KRABatchConverterFiltersPaneDate::setValueDays(int days)
{
    for (const QString& value : values())
        if (daysOf(value) == days) {
            setStrValue(value);
            return;
        }
    setStrValue(QStringLiteral("%1 days").arg(days));
}

void KRABatchConverterFiltersPaneDate::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* label = new QLabel(QStringLiteral("Include only files modified within the last:"), view);
    auto* combo = new QComboBox(view);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(values());
    label->setBuddy(combo);
    layout->addWidget(label);
    layout->addWidget(combo);
    layout->addStretch(1);
    m_combo = combo;
    combo->setCurrentText(m_strValue);
    connect(combo, &QComboBox::currentTextChanged, this, [this](const QString& text) { m_strValue = text; });
    setView(view);
}

// ---- The dialog ----

std::shared_ptr<KRABatchConverterFiltersDialog>
KRABatchConverterFiltersDialog::startWithDialog(const std::shared_ptr<KRABatchConvertDialog>& owner)
{
    auto dialog = std::shared_ptr<KRABatchConverterFiltersDialog>(new KRABatchConverterFiltersDialog);
    dialog->m_filter = *owner->filter();
    dialog->m_owner = owner;
    return dialog;
}

KRABatchConverterFiltersDialog::~KRABatchConverterFiltersDialog() = default;

KRABatchConverterFiltersPane* KRABatchConverterFiltersDialog::paneFor(const QString& field) const
{
    return m_viewByField.value(field).get();
}

void KRABatchConverterFiltersDialog::loadView()
{
    // "File Types": every format the converter reads, ticked unless excluded.
    const std::optional<QSet<QString>> excludedTypes = m_filter.filterForMeta(QStringLiteral("File Types"));
    QList<KRAFiltersEntry> types;
    const QKMediaFormatFilter formats;
    for (const QKMediaFormatFilterEntry& format : formats.formats()) {
        KRAFiltersEntry row;
        row.key = format.extension.toUpper();
        row.checked = !excludedTypes || !excludedTypes->contains(row.key);
        row.name = QStringLiteral("%1  (%2)").arg(format.name, format.extension);
        types << row;
    }
    SortByName(types);
    m_dataByView.insert(QStringLiteral("File Types"), types);

    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("KRABatchConverterFiltersDialog"));
    auto* layout = new QVBoxLayout(view);
    auto* tabs = new QTabWidget(view);
    for (const QString& field : KRABatchConverterProfile::filterNames()) {
        if (field == QLatin1String("Date")) {
            m_datePane = std::make_shared<KRABatchConverterFiltersPaneDate>();
            const std::optional<QSet<QString>> date = m_filter.filterForMeta(field);
            if (date && !date->isEmpty())
                m_datePane->setStrValue(*date->begin());
            tabs->addTab(m_datePane->view(), field);
            continue;
        }
        auto pane = std::make_shared<KRABatchConverterFiltersPane>();
        if (m_dataByView.contains(field))
            pane->deliverData(m_dataByView.value(field));
        tabs->addTab(pane->view(), field);
        m_viewByField.insert(field, pane);
    }
    layout->addWidget(tabs, 1);
    auto* bar = new QHBoxLayout;
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), view);
    auto* ok = new QPushButton(QStringLiteral("OK"), view);
    cancel->setAutoDefault(false);
    ok->setDefault(true);
    bar->addStretch(1);
    bar->addWidget(cancel);
    bar->addWidget(ok);
    layout->addLayout(bar);
    connect(cancel, &QPushButton::clicked, this, [this] { onCancel(); });
    connect(ok, &QPushButton::clicked, this, [this] { onOK(); });
    m_tabs = tabs;
    setView(view);

    const auto owner = m_owner.lock();
    if (!owner)
        return;
    const std::shared_ptr<KRAMetaFieldCache> cache = owner->metaFieldCache();
    const QList<QUrl> folders = owner->selectedFolders();
    auto callback = std::make_shared<FiltersCallback>(weak_from_this());
    if (const std::optional<KRAMetaFieldResults> now = cache->fieldsForFolders(folders, callback))
        deliverMetaFieldCacheResults(*now);
    else if (folders.isEmpty())
        deliverMetaFieldCacheResults({});
}

void KRABatchConverterFiltersDialog::deliverMetaFieldCacheResults(const KRAMetaFieldResults& results)
{
    for (auto it = m_viewByField.begin(); it != m_viewByField.end(); ++it) {
        const QString& field = it.key();
        if (field == QLatin1String("File Types"))
            continue;
        const std::optional<QSet<QString>> excluded = m_filter.filterForMeta(field);
        QList<KRAFiltersEntry> rows;
        for (const QString& value : results.value(field)) {
            KRAFiltersEntry row;
            row.key = row.name = value;
            row.checked = !excluded || !excluded->contains(value);
            rows << row;
        }
        SortByName(rows);
        it.value()->deliverData(rows);
        m_dataByView.insert(field, rows);
    }
}

void KRABatchConverterFiltersDialog::apply()
{
    if (m_datePane) {
        // The not-checked choice stores no limit: a window without a date filter stays one.
        const QString value = m_datePane->strValue();
        if (KRABatchConverterFiltersPaneDate::daysOf(value) > 0)
            m_filter.setFilterMeta(QStringLiteral("Date"), QSet<QString>{value});
        else
            m_filter.setFilterMeta(QStringLiteral("Date"), QSet<QString>{});
    }
    for (auto it = m_viewByField.begin(); it != m_viewByField.end(); ++it) {
        const std::optional<QList<KRAFiltersEntry>>& rows = it.value()->data();
        if (!rows)
            continue; // never arrived: the exclusions the filter had stay
        QSet<QString> excluded;
        for (const KRAFiltersEntry& row : *rows)
            if (!row.checked)
                excluded.insert(row.key);
        m_filter.setFilterMeta(it.key(), excluded);
    }
}

void KRABatchConverterFiltersDialog::onOK()
{
    apply();
    endDialog(1);
}

void KRABatchConverterFiltersDialog::onCancel()
{
    endDialog(0);
}

void KRABatchConverterFiltersDialog::endDialog(int code)
{
    if (m_ended)
        return;
    m_ended = true;
    // Keeps this panel alive while the owner replaces it in the window.
    const auto keep = shared_from_this();
    if (const auto owner = m_owner.lock())
        owner->returnFromFiltersDialog(m_filter, code);
}
