#include "kit/KRATableColumn.h"

KRATableColumnRef KRATableColumn::column()
{
    return std::make_shared<KRATableColumn>();
}

KRATableColumnRef KRATableColumn::textColumn()
{
    return textColumnWithWidth(120, false);
}

KRATableColumnRef KRATableColumn::numColumn()
{
    KRATableColumnRef made = textColumnWithWidth(60, true);
    made->setKind(KRAColumnKind::Number);
    return made;
}

KRATableColumnRef KRATableColumn::textColumnWithWidth(double width, bool rightAlign)
{
    KRATableColumnRef made = column();
    made->setKRADefaultWidth(width);
    made->setWidth(width);
    made->setAlignment(rightAlign ? Qt::AlignRight : Qt::AlignLeft);
    return made;
}

KRATableColumnRef KRATableColumn::textColumnWithID(const QString& identifier, const QString& name)
{
    KRATableColumnRef made = textColumn();
    made->identify(identifier, name);
    return made;
}

KRATableColumnRef KRATableColumn::numColumnWithID(const QString& identifier, const QString& name)
{
    KRATableColumnRef made = numColumn();
    made->identify(identifier, name);
    return made;
}

KRATableColumnRef KRATableColumn::dateColumnWithID(const QString& identifier)
{
    KRATableColumnRef made = textColumnWithWidth(100, false);
    made->setKind(KRAColumnKind::Date);
    made->identify(identifier);
    return made;
}

KRATableColumnRef KRATableColumn::columnFolder()
{
    KRATableColumnRef made = textColumnWithID(QStringLiteral("Folder"));
    made->setElideMode(Qt::ElideLeft);
    return made;
}

KRATableColumnRef KRATableColumn::columnType()
{
    KRATableColumnRef made = textColumnWithWidth(80, false);
    made->identify(QStringLiteral("Type"));
    return made;
}

void KRATableColumn::identify(const QString& identifier, const QString& name)
{
    m_identifier = identifier;
    m_title = name.isNull() ? identifier : name;
    m_sortPrototype = KRASortDescriptor::forColumn(identifier);
}
