// One column of a file table's catalogue: what the header shows, how wide the column is by
// default and now, how its cells align and truncate, and how its rows sort.
//
// The identifier is the column's English name. It is also the header title for every column
// of the catalogues, the key of its remembered width, and what the table's model answers as
// the section's KRAColumnIdentifierRole. The catalogue never changes once built; only the
// current width follows the user.
#pragma once

#include <QString>
#include <Qt>

#include <memory>

#include "kit/KRASortDescriptor.h"

enum class KRAColumnKind { Text, Number, Date };

class KRATableColumn;
using KRATableColumnRef = std::shared_ptr<KRATableColumn>;

class KRATableColumn {
public:
    // A narrower column would hide its own header.
    static constexpr double kMinWidth = 10;

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString& identifier) { m_identifier = identifier; }
    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

    // The width the column takes when no remembered width applies.
    double KRADefaultWidth() const { return m_defaultWidth; }
    void setKRADefaultWidth(double width) { m_defaultWidth = width; }
    // The width the column has (or is to get) in the table.
    double width() const { return m_width; }
    void setWidth(double width) { m_width = width; }

    KRAColumnKind kind() const { return m_kind; }
    void setKind(KRAColumnKind kind) { m_kind = kind; }
    // Horizontal alignment of the cells and of the header title.
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment) { m_alignment = alignment; }
    // Where a text too long for the cell loses characters.
    Qt::TextElideMode elideMode() const { return m_elideMode; }
    void setElideMode(Qt::TextElideMode mode) { m_elideMode = mode; }

    // The descriptor a click on the column's header sorts with (ascending).
    const KRASortDescriptor& sortDescriptorPrototype() const { return m_sortPrototype; }
    void setSortDescriptorPrototype(const KRASortDescriptor& descriptor) { m_sortPrototype = descriptor; }

    // Factories. A new column is a left-aligned text column without identifier.
    static KRATableColumnRef column();
    // Left-aligned, 120 wide.
    static KRATableColumnRef textColumn();
    // Right-aligned, 60 wide.
    static KRATableColumnRef numColumn();
    static KRATableColumnRef textColumnWithWidth(double width, bool rightAlign);
    // The forms with an identifier also set the title (the identifier itself when no name is
    // given) and the sort descriptor prototype.
    static KRATableColumnRef textColumnWithID(const QString& identifier, const QString& name = QString());
    static KRATableColumnRef numColumnWithID(const QString& identifier, const QString& name = QString());
    // Left-aligned, 100 wide.
    static KRATableColumnRef dateColumnWithID(const QString& identifier);
    // The folder path: a text column truncated at its head, so the end of the path stays visible.
    static KRATableColumnRef columnFolder();
    // The audio catalogue's Type column: text, 80 wide.
    static KRATableColumnRef columnType();

    // Gives the column an identifier, a title and the sort descriptor of that identifier.
    void identify(const QString& identifier, const QString& name = QString());

private:
    QString m_identifier;
    QString m_title;
    double m_defaultWidth = 100;
    double m_width = 100;
    KRAColumnKind m_kind = KRAColumnKind::Text;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    Qt::TextElideMode m_elideMode = Qt::ElideRight;
    KRASortDescriptor m_sortPrototype;
};
