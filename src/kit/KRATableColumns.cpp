#include "kit/KRATableColumns.h"

#include "kit/KRAItemRoles.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QSettings>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <cmath>

namespace {

const QString kName = QStringLiteral("Name");
const QString kFolder = QStringLiteral("Folder");

// Cells of a column that lose their text somewhere else than at the tail (the folder path
// keeps its end, which tells folders apart).
class KRAElideDelegate : public QStyledItemDelegate {
public:
    KRAElideDelegate(Qt::TextElideMode mode, QObject* parent) : QStyledItemDelegate(parent), m_mode(mode) {}
    Qt::TextElideMode mode() const { return m_mode; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = m_mode;
    }

private:
    Qt::TextElideMode m_mode;
};

// A remembered width is used only when it is a real, positive number of sensible size; damaged
// settings must not make a column vanish or fill a hundred screens.
bool SoundWidth(const QVariant& value, double* width)
{
    if (!value.isValid())
        return false;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number <= 0 || number > KRATableColumns::kMaxRememberedWidth)
        return false;
    *width = number;
    return true;
}

// The identifiers of a remembered visible list. The settings file gives a one-element list back
// as a plain text, so a text counts as a list of one; anything else is no list at all.
bool RememberedIdentifiers(const QVariant& value, QStringList* identifiers)
{
    switch (value.typeId()) {
    case QMetaType::QStringList:
        *identifiers = value.toStringList();
        return true;
    case QMetaType::QString:
        *identifiers = QStringList{value.toString()};
        return true;
    case QMetaType::QVariantList:
        for (const QVariant& item : value.toList())
            identifiers->append(item.typeId() == QMetaType::QString ? item.toString() : QString());
        return true;
    default:
        return false;
    }
}

int SectionWidth(const KRATableColumnRef& column)
{
    return static_cast<int>(std::lround(std::max(column->width(), KRATableColumn::kMinWidth)));
}

} // namespace

KRATableColumns::KRATableColumns(QAbstractItemView* table, bool haveFolder, QObject* parent) : QObject(parent)
{
    setup(table, haveFolder, QString());
}

KRATableColumns::KRATableColumns(QAbstractItemView* table, bool haveFolder, const QString& autosaveName,
                                 QObject* parent)
    : QObject(parent)
{
    setup(table, haveFolder, autosaveName);
}

KRATableColumns::~KRATableColumns() = default;

void KRATableColumns::setup(QAbstractItemView* table, bool haveFolder, const QString& autosaveName)
{
    m_autosaveName = autosaveName;
    m_table = table;
    m_haveFolder = haveFolder;

    std::vector<KRATableColumnRef> columns;
    QStringList defNames;
    setupForVideo(columns, defNames);
    if (haveFolder) {
        defNames.append(kFolder);
        columns.push_back(KRATableColumn::columnFolder());
    }
    m_allColumns = columns;
    for (const KRATableColumnRef& column : m_allColumns)
        m_allColumnsMap.insert(column->identifier(), column);
    for (const QString& name : defNames) {
        if (KRATableColumnRef column = m_allColumnsMap.value(name))
            m_defColumns.push_back(column);
    }

    applyColumnWidths();
    prepareTableView();
}

QList<KRASortDescriptor> KRATableColumns::defaultSortDescriptors()
{
    return {makeSortDescriptor(kName)};
}

KRASortDescriptor KRATableColumns::makeSortDescriptor(const QString& identifier)
{
    return KRASortDescriptor::forColumn(identifier);
}

const QStringList& KRATableColumns::columnsMain()
{
    static const QStringList names{
        QStringLiteral("Name"),          QStringLiteral("Size"),         QStringLiteral("Type"),
        QStringLiteral("Date Modified"), QStringLiteral("Date Created"), QStringLiteral("Date Accessed"),
        QStringLiteral("Length"),        QStringLiteral("Bit Rate"),     QStringLiteral("Streams"),
        QStringLiteral("Profile"),       QStringLiteral("Resolution"),   QStringLiteral("Aspect Ratio"),
        QStringLiteral("Frame Rate"),    QStringLiteral("Pixel Format"), QStringLiteral("Color Space"),
        QStringLiteral("Channels"),      QStringLiteral("Sample Rate"),  QStringLiteral("Sample Size"),
        QStringLiteral("Frame Count"),
    };
    return names;
}

const QStringList& KRATableColumns::columnsTags()
{
    static const QStringList names{
        QStringLiteral("Title"),     QStringLiteral("Year"),        QStringLiteral("Author"),
        QStringLiteral("Synopsis"),  QStringLiteral("Genre"),       QStringLiteral("Comment"),
        QStringLiteral("Copyright"), QStringLiteral("Description"), QStringLiteral("Encoder"),
        QStringLiteral("Artist"),    QStringLiteral("Composer"),    QStringLiteral("Date"),
        QStringLiteral("Show"),      QStringLiteral("Network"),
    };
    return names;
}

const QHash<QString, int>& KRATableColumns::defWidths()
{
    static const QHash<QString, int> widths{
        {QStringLiteral("Name"), 250},         {QStringLiteral("Size"), 120},
        {QStringLiteral("Length"), 110},       {QStringLiteral("Bit Rate"), 120},
        {QStringLiteral("Sample Rate"), 140},  {QStringLiteral("Sample Size"), 140},
        {QStringLiteral("Channels"), 120},     {QStringLiteral("Date Modified"), 180},
        {QStringLiteral("Date Created"), 180}, {QStringLiteral("Date Accessed"), 180},
    };
    return widths;
}

const QSet<QString>& KRATableColumns::columnsRightAlign()
{
    static const QSet<QString> names{
        QStringLiteral("Size"),        QStringLiteral("Length"),      QStringLiteral("Bit Rate"),
        QStringLiteral("Channels"),    QStringLiteral("Sample Size"), QStringLiteral("Sample Rate"),
        QStringLiteral("Frame Rate"),  QStringLiteral("Resolution"),  QStringLiteral("Aspect Ratio"),
        QStringLiteral("Frame Count"),
    };
    return names;
}

void KRATableColumns::setupForVideo(std::vector<KRATableColumnRef>& columns, QStringList& defNames)
{
    for (const QStringList* list : {&columnsMain(), &columnsTags()}) {
        for (const QString& identifier : *list) {
            KRATableColumnRef column = KRATableColumn::textColumnWithWidth(defWidths().value(identifier, 150),
                                                                           columnsRightAlign().contains(identifier));
            column->identify(identifier);
            columns.push_back(column);
        }
    }
    defNames << QStringLiteral("Name") << QStringLiteral("Size") << QStringLiteral("Type")
             << QStringLiteral("Date Modified") << QStringLiteral("Length") << QStringLiteral("Resolution")
             << QStringLiteral("Bit Rate") << QStringLiteral("Frame Rate");
}

void KRATableColumns::setupForKRA(std::vector<KRATableColumnRef>& columns, QStringList& defNames)
{
    enum Make { Text, Num, Date, Type, Text80 };
    struct Entry {
        const char* identifier;
        Make make;
    };
    // clang-format off
    static const Entry entries[] = {
        {"Name", Text}, {"Size", Num}, {"Type", Type}, {"Date Modified", Date}, {"Date Created", Date},
        {"Date Accessed", Date}, {"Bit Rate", Num}, {"Channels", Num}, {"Length", Num}, {"Sample Rate", Num},
        {"Sample Size", Num}, {"Compression", Text}, {"Artist", Text}, {"Title", Text}, {"Album", Text},
        {"Track", Num}, {"Year", Num}, {"Genre", Text80}, {"Album Artist", Text},
        {"Album Artist - Album - Disc - Track", Text}, {"Album - Disc - Track", Text}, {"Band", Text},
        {"Tempo", Num}, {"Comment", Text}, {"Compilation", Text}, {"Composer", Text}, {"Conductor", Text},
        {"Disc", Num}, {"Encoded by", Text}, {"Label", Text}, {"Last Played", Text}, {"Mood", Text},
        {"Playcount", Num}, {"Rating", Num}, {"Style", Text}, {"VantorelResult", Text},
        {"Replaygain_Track_Gain", Num}, {"Replaygain_Track_Peak", Num}, {"Replaygain_Album_Gain", Num},
        {"Replaygain_Album_Peak", Num}, {"Atoms", Text}, {"Audio Quality", Text}, {"Channel Coupling", Text},
        {"Channel Mapping", Text}, {"Contains", Text}, {"Encoder", Text}, {"Encoder Settings", Text},
        {"Gapless", Text}, {"ID Tag", Text}, {"MPEG Technical", Text}, {"MPEG Version", Num},
        {"Riff Chunks", Text}, {"Sample Count", Num}, {"Wave Header", Text},
    };
    // clang-format on
    for (const Entry& entry : entries) {
        const QString identifier = QString::fromLatin1(entry.identifier);
        KRATableColumnRef column;
        switch (entry.make) {
        case Text:
            column = KRATableColumn::textColumnWithID(identifier);
            break;
        case Num:
            column = KRATableColumn::numColumnWithID(identifier);
            break;
        case Date:
            column = KRATableColumn::dateColumnWithID(identifier);
            break;
        case Type:
            column = KRATableColumn::columnType();
            break;
        case Text80:
            column = KRATableColumn::textColumnWithWidth(80, false);
            column->identify(identifier);
            break;
        }
        columns.push_back(column);
    }
    defNames << QStringLiteral("Name") << QStringLiteral("Size") << QStringLiteral("Type")
             << QStringLiteral("Date Modified") << QStringLiteral("Artist") << QStringLiteral("Bit Rate")
             << QStringLiteral("Title") << QStringLiteral("Genre")
             << QStringLiteral("Album Artist - Album - Disc - Track") << QStringLiteral("Length")
             << QStringLiteral("ID Tag");
}

void KRATableColumns::applyColumnWidth(const KRATableColumnRef& column, double width)
{
    if (column)
        column->setKRADefaultWidth(width);
}

QString KRATableColumns::columnAutosaveKey(const KRATableColumnRef& column) const
{
    if (m_autosaveName.isEmpty() || !column || column->identifier().isEmpty())
        return QString();
    return QStringLiteral("%1 : column %2").arg(m_autosaveName, column->identifier());
}

QString KRATableColumns::visibleColumnsKey() const
{
    if (m_autosaveName.isEmpty())
        return QString();
    return QStringLiteral("%1 : visible columns").arg(m_autosaveName);
}

QHeaderView* KRATableColumns::header() const
{
    if (auto* table = qobject_cast<QTableView*>(m_table))
        return table->horizontalHeader();
    if (auto* tree = qobject_cast<QTreeView*>(m_table))
        return tree->header();
    return nullptr;
}

int KRATableColumns::sectionFor(const QString& identifier) const
{
    QHeaderView* head = header();
    QAbstractItemModel* model = head ? head->model() : nullptr;
    if (!model || identifier.isEmpty())
        return -1;
    for (int section = 0; section < head->count(); ++section) {
        if (model->headerData(section, Qt::Horizontal, KRAColumnIdentifierRole).toString() == identifier)
            return section;
    }
    return -1;
}

std::vector<KRATableColumnRef> KRATableColumns::currentColumns() const
{
    std::vector<KRATableColumnRef> columns;
    for (const QString& identifier : visibleColumnIdentifiers())
        columns.push_back(m_allColumnsMap.value(identifier));
    return columns;
}

QStringList KRATableColumns::visibleColumnIdentifiers() const
{
    QStringList identifiers;
    QHeaderView* head = header();
    QAbstractItemModel* model = head ? head->model() : nullptr;
    if (!model)
        return identifiers;
    for (int visual = 0; visual < head->count(); ++visual) {
        const int section = head->logicalIndex(visual);
        if (head->isSectionHidden(section))
            continue;
        const QString identifier = model->headerData(section, Qt::Horizontal, KRAColumnIdentifierRole).toString();
        if (m_allColumnsMap.contains(identifier) && !identifiers.contains(identifier))
            identifiers.append(identifier);
    }
    return identifiers;
}

void KRATableColumns::applyColumnWidths()
{
    // Only read the settings when there is a name to read them under.
    std::unique_ptr<QSettings> settings;
    if (!m_autosaveName.isEmpty())
        settings = std::make_unique<QSettings>();
    for (const KRATableColumnRef& column : m_allColumns) {
        double width = column->KRADefaultWidth();
        const QString key = columnAutosaveKey(column);
        double saved = 0;
        if (settings && !key.isEmpty() && SoundWidth(settings->value(key), &saved))
            width = saved;
        column->setWidth(width);
    }
}

std::vector<KRATableColumnRef> KRATableColumns::columnsToShow() const
{
    const QString key = visibleColumnsKey();
    QStringList identifiers;
    if (!key.isEmpty() && RememberedIdentifiers(QSettings().value(key), &identifiers)) {
        std::vector<KRATableColumnRef> visible;
        for (const QString& identifier : identifiers) {
            KRATableColumnRef column = m_allColumnsMap.value(identifier);
            if (column && std::find(visible.begin(), visible.end(), column) == visible.end())
                visible.push_back(column);
        }
        // A list with nothing the catalogue knows would leave a table without a header, and
        // without the menu that could bring the columns back.
        if (!visible.empty())
            return visible;
    }
    return m_defColumns;
}

void KRATableColumns::prepareTableView()
{
    QHeaderView* head = header();
    if (!head)
        return;
    head->setMinimumSectionSize(static_cast<int>(KRATableColumn::kMinWidth));
    layoutColumns(columnsToShow());
    buildMenu();

    if (m_connectedHeader == head)
        return;
    m_connectedHeader = head;
    head->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(head, &QHeaderView::customContextMenuRequested, this, &KRATableColumns::showMenu);
    connect(head, &QHeaderView::sectionResized, this,
            [this, head](int section, int, int) { tableViewColumnDidResize(head, section); });
    // A model set (or replaced) after the manager was made brings its sections in unarranged.
    connect(head, &QHeaderView::sectionCountChanged, this, [this](int, int count) {
        if (count <= 0)
            return;
        layoutColumns(columnsToShow());
        updateMenuCheckmarks(currentColumns());
    });
    if (m_table && m_table->viewport())
        m_table->viewport()->installEventFilter(this);
}

void KRATableColumns::layoutColumns(const std::vector<KRATableColumnRef>& visible)
{
    QHeaderView* head = header();
    QAbstractItemModel* model = head ? head->model() : nullptr;
    if (!model)
        return;
    QHash<QString, int> sections;
    QSet<int> catalogued;
    for (int section = 0; section < head->count(); ++section) {
        const QString identifier = model->headerData(section, Qt::Horizontal, KRAColumnIdentifierRole).toString();
        if (m_allColumnsMap.contains(identifier) && !sections.contains(identifier)) {
            sections.insert(identifier, section);
            catalogued.insert(section);
        }
    }

    QList<int> order;
    for (int visual = 0; visual < head->count(); ++visual) {
        const int section = head->logicalIndex(visual);
        if (!catalogued.contains(section))
            order.append(section);
    }
    QSet<int> shown;
    for (const KRATableColumnRef& column : visible) {
        const int section = sections.value(column->identifier(), -1);
        if (section >= 0 && !shown.contains(section)) {
            order.append(section);
            shown.insert(section);
        }
    }
    for (const KRATableColumnRef& column : m_allColumns) {
        const int section = sections.value(column->identifier(), -1);
        if (section >= 0 && !shown.contains(section))
            order.append(section);
    }

    m_arranging = true;
    for (int visual = 0; visual < order.size(); ++visual) {
        const int from = head->visualIndex(order[visual]);
        if (from != visual)
            head->moveSection(from, visual);
    }
    for (const KRATableColumnRef& column : m_allColumns) {
        const int section = sections.value(column->identifier(), -1);
        if (section < 0)
            continue;
        head->setSectionHidden(section, !shown.contains(section));
        head->resizeSection(section, SectionWidth(column));
        if (column->elideMode() != Qt::ElideRight && m_table) {
            auto* current = dynamic_cast<KRAElideDelegate*>(m_table->itemDelegateForColumn(section));
            if (!current || current->mode() != column->elideMode())
                m_table->setItemDelegateForColumn(section, new KRAElideDelegate(column->elideMode(), m_table));
        }
    }
    m_arranging = false;
}

void KRATableColumns::buildMenu()
{
    m_menu = std::make_unique<QMenu>(QStringLiteral("Columns"));
    // The two separators before "Default Columns" are both meant to show.
    m_menu->setSeparatorsCollapsible(false);
    addMenuItems(columnsMain(), m_menu.get());
    if (m_haveFolder) {
        if (QAction* folder = makeMenuItemForID(kFolder))
            m_menu->addAction(folder);
    }
    m_menu->addSeparator();
    QMenu* tags = m_menu->addMenu(QStringLiteral("Tags"));
    addMenuItems(columnsTags(), tags);
    m_menu->addSeparator();
    m_menu->addSeparator();
    QAction* reset = m_menu->addAction(QStringLiteral("Default Columns"));
    connect(reset, &QAction::triggered, this, &KRATableColumns::onResetToDefault);

    updateMenuCheckmarks(currentColumns());
}

QAction* KRATableColumns::makeMenuItemFor(const KRATableColumnRef& column)
{
    if (!column)
        return nullptr;
    auto* item = new QAction(column->title(), m_menu.get());
    item->setCheckable(true);
    item->setData(column->identifier());
    connect(item, &QAction::triggered, this, [this, item] { onMenuToggle(item); });
    return item;
}

QAction* KRATableColumns::makeMenuItemForID(const QString& identifier)
{
    return makeMenuItemFor(m_allColumnsMap.value(identifier));
}

void KRATableColumns::addMenuItems(const QStringList& identifiers, QMenu* menu)
{
    if (!menu)
        return;
    for (const QString& identifier : identifiers) {
        if (QAction* item = makeMenuItemForID(identifier))
            menu->addAction(item);
    }
}

void KRATableColumns::updateMenuCheckmarks(const std::vector<KRATableColumnRef>& columns)
{
    QSet<QString> identifiers;
    for (const KRATableColumnRef& column : columns) {
        if (column)
            identifiers.insert(column->identifier());
    }
    updateMenuCheckmarksRecur(m_menu.get(), identifiers);
}

void KRATableColumns::updateMenuCheckmarksRecur(QMenu* menu, const QSet<QString>& identifiers)
{
    if (!menu)
        return;
    for (QAction* item : menu->actions()) {
        if (item->menu()) {
            updateMenuCheckmarksRecur(item->menu(), identifiers);
            continue;
        }
        const QString identifier = item->data().toString();
        if (!m_allColumnsMap.contains(identifier))
            continue;
        const bool checked = identifiers.contains(identifier);
        item->setChecked(checked);
        // The only column shown cannot be taken away (see onMenuToggle).
        item->setEnabled(!(checked && identifiers.size() == 1));
    }
}

void KRATableColumns::onMenuToggle(QAction* item)
{
    QHeaderView* head = header();
    if (!item || !head)
        return;
    const QString identifier = item->data().toString();
    const int section = sectionFor(identifier);
    if (!m_allColumnsMap.contains(identifier) || section < 0)
        return;
    // The table, not the item, says whether the column is shown: a checkable item has already
    // flipped its own mark when it reports the choice.
    const bool shown = !head->isSectionHidden(section);
    const QStringList visible = visibleColumnIdentifiers();
    if (shown && visible.size() <= 1) {
        item->setChecked(true);
        return;
    }
    m_arranging = true;
    if (shown) {
        head->hideSection(section);
    } else {
        head->showSection(section);
        head->moveSection(head->visualIndex(section), head->count() - 1);
    }
    m_arranging = false;
    updateMenuCheckmarks(currentColumns());
    saveVisibleColumns();
}

void KRATableColumns::onResetToDefault()
{
    layoutColumns(m_defColumns);
    updateMenuCheckmarks(m_defColumns);
}

void KRATableColumns::saveVisibleColumns()
{
    const QString key = visibleColumnsKey();
    if (key.isEmpty())
        return;
    QSettings().setValue(key, visibleColumnIdentifiers());
}

void KRATableColumns::columnResized(const KRATableColumnRef& column)
{
    if (!column)
        return;
    QHeaderView* head = header();
    const int section = sectionFor(column->identifier());
    if (head && section >= 0 && !head->isSectionHidden(section))
        column->setWidth(head->sectionSize(section));
    const QString key = columnAutosaveKey(column);
    if (key.isEmpty())
        return;
    QSettings().setValue(key, column->width());
}

void KRATableColumns::tableViewColumnDidResize(QHeaderView* resized, int logicalIndex)
{
    QHeaderView* head = header();
    if (m_arranging || !resized || resized != head || !head->model())
        return;
    // Hiding a section reports it as resized to nothing; that is no width to remember.
    if (head->isSectionHidden(logicalIndex) || head->sectionSize(logicalIndex) <= 0)
        return;
    const QString identifier =
        head->model()->headerData(logicalIndex, Qt::Horizontal, KRAColumnIdentifierRole).toString();
    if (KRATableColumnRef column = m_allColumnsMap.value(identifier))
        columnResized(column);
}

void KRATableColumns::showMenu(const QPoint& at)
{
    QHeaderView* head = header();
    if (!head || !m_menu)
        return;
    updateMenuCheckmarks(currentColumns());
    m_menu->popup(head->mapToGlobal(at));
}

bool KRATableColumns::eventFilter(QObject* watched, QEvent* event)
{
    // The full text of a cell shows as a tooltip only where the cell cuts it short.
    if (event->type() != QEvent::ToolTip || !m_table || watched != m_table->viewport())
        return QObject::eventFilter(watched, event);
    const QPoint at = static_cast<QHelpEvent*>(event)->pos();
    const QModelIndex index = m_table->indexAt(at);
    if (!index.isValid())
        return false;
    const QString text = index.data(Qt::DisplayRole).toString();
    const int margin = m_table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_table) + 1;
    const int room = m_table->visualRect(index).width() - 2 * margin;
    if (QFontMetrics(m_table->font()).horizontalAdvance(text) <= room) {
        QToolTip::hideText();
        return true;
    }
    return false;
}
