// The columns of a file table: a fixed catalogue of file properties and tag fields, of which the
// user picks the visible ones through a menu on the table's header. The visible set (in the
// table's order) and each column's width are remembered in the settings under a name the
// owner chooses; without a name nothing is read or written.
//
// The table's model holds every catalogue column, in catalogue order, and answers each
// section's identifier as KRAColumnIdentifierRole (KRAColumnsModel does). The manager never
// adds or removes model columns: it shows, hides and moves the header's sections. Sections
// whose identifier the catalogue does not know (a check-box column of the owner's, say) are
// left alone and kept in front. The model may be set before or after the manager is made.
//
// One manager per table, kept by the owner for the table's life; it holds the table weakly.
// Main thread only.
#pragma once

#include <QAbstractItemView>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "kit/KRASortDescriptor.h"
#include "kit/KRATableColumn.h"

class QAction;
class QHeaderView;
class QMenu;

class KRATableColumns : public QObject {
    Q_OBJECT
public:
    // Remembered widths above this are taken for damage, not for a choice of the user's.
    static constexpr double kMaxRememberedWidth = 10000;

    // table: a QTableView or QTreeView. An empty autosave name reads and saves nothing.
    KRATableColumns(QAbstractItemView* table, bool haveFolder, QObject* parent = nullptr);
    KRATableColumns(QAbstractItemView* table, bool haveFolder, const QString& autosaveName, QObject* parent = nullptr);
    ~KRATableColumns() override;

    // Sort descriptors: the initial sort owners install (by Name), and any column's.
    static QList<KRASortDescriptor> defaultSortDescriptors();
    static KRASortDescriptor makeSortDescriptor(const QString& identifier);

    // The catalogues. Each appends its columns, in order, and its default visible names.
    static void setupForVideo(std::vector<KRATableColumnRef>& columns, QStringList& defNames);
    static void setupForKRA(std::vector<KRATableColumnRef>& columns, QStringList& defNames);
    // The video catalogue's main and tag lists, its width table and its right-aligned set.
    static const QStringList& columnsMain();
    static const QStringList& columnsTags();
    static const QHash<QString, int>& defWidths();
    static const QSet<QString>& columnsRightAlign();
    // Sets the width a column takes when nothing remembered applies.
    static void applyColumnWidth(const KRATableColumnRef& column, double width);

    // Every catalogue column, in catalogue order (what the table's model shows), and by
    // identifier; the default visible ones in their order.
    const std::vector<KRATableColumnRef>& columns() const { return m_allColumns; }
    const QHash<QString, KRATableColumnRef>& allColumns() const { return m_allColumnsMap; }
    const std::vector<KRATableColumnRef>& defColumns() const { return m_defColumns; }
    KRATableColumnRef columnWithID(const QString& identifier) const { return m_allColumnsMap.value(identifier); }
    bool haveFolder() const { return m_haveFolder; }

    QString autosaveName() const { return m_autosaveName; }
    void setAutosaveName(const QString& name) { m_autosaveName = name; }
    // "<autosave name> : column <identifier>" and "<autosave name> : visible columns"; empty
    // when there is no autosave name (or the column has no identifier).
    QString columnAutosaveKey(const KRATableColumnRef& column) const;
    QString visibleColumnsKey() const;

    QAbstractItemView* table() const { return m_table; }
    QHeaderView* header() const;
    QMenu* menu() const { return m_menu.get(); }
    // The header section (logical index) of the column, or -1.
    int sectionFor(const QString& identifier) const;
    // The visible catalogue columns, in the table's order.
    QStringList visibleColumnIdentifiers() const;
    std::vector<KRATableColumnRef> currentColumns() const;

    // Every column takes its remembered width when a sound one is saved, else its default.
    void applyColumnWidths();
    // Shows the remembered visible columns (or the defaults) in order, at their widths, and
    // puts the column menu on the header.
    void prepareTableView();

    // The header menu "Columns".
    void buildMenu();
    QAction* makeMenuItemFor(const KRATableColumnRef& column);
    // Null for an identifier the catalogue does not know.
    QAction* makeMenuItemForID(const QString& identifier);
    void addMenuItems(const QStringList& identifiers, QMenu* menu);
    // Checks exactly the items of the given columns.
    void updateMenuCheckmarks(const std::vector<KRATableColumnRef>& columns);
    void updateMenuCheckmarksRecur(QMenu* menu, const QSet<QString>& identifiers);

    // A column item chosen: hides a shown column, shows a hidden one at the end, and saves the
    // visible set. The only visible column stays: a header without sections vanishes, and
    // its menu with it.
    void onMenuToggle(QAction* item);
    // Back to the default columns in their order. Not saved: the remembered set changes at the
    // next toggle. Widths stay.
    void onResetToDefault();

    void saveVisibleColumns();
    // Remembers the column's current width (nothing without a key).
    void columnResized(const KRATableColumnRef& column);
    // A header section was resized: remembered when the header is this table's.
    void tableViewColumnDidResize(QHeaderView* header, int logicalIndex);

private:
    void setup(QAbstractItemView* table, bool haveFolder, const QString& autosaveName);
    // The remembered visible list, or the defaults when there is none or it is damaged.
    std::vector<KRATableColumnRef> columnsToShow() const;
    // Puts the sections in order: foreign ones first, then the given columns shown, then the
    // rest of the catalogue hidden; applies every column's width and the truncation delegates.
    void layoutColumns(const std::vector<KRATableColumnRef>& visible);
    void showMenu(const QPoint& at);
    bool eventFilter(QObject* watched, QEvent* event) override;

    QHash<QString, KRATableColumnRef> m_allColumnsMap;
    std::vector<KRATableColumnRef> m_defColumns;
    std::vector<KRATableColumnRef> m_allColumns;
    QPointer<QAbstractItemView> m_table;
    QPointer<QHeaderView> m_connectedHeader;
    std::unique_ptr<QMenu> m_menu;
    bool m_haveFolder = false;
    QString m_autosaveName;
    // Set while the manager itself moves and sizes sections: those are not the user's widths.
    bool m_arranging = false;
};
