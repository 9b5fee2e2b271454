#include "kit/KRATableRowPlain.h"

#include <QApplication>
#include <QPalette>

namespace {
const QPalette::ColorRole kRoles[] = {QPalette::Text, QPalette::WindowText};
const QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Inactive};
} // namespace

void setGrayed(QWidget* field, bool grayed)
{
    if (!field)
        return;
    QPalette palette = field->palette();
    // The normal colours come from the palette the field would have on its own.
    const QPalette normal = QApplication::palette(field);
    for (const QPalette::ColorRole role : kRoles) {
        const QColor disabled = normal.color(QPalette::Disabled, role);
        for (const QPalette::ColorGroup group : kGroups)
            palette.setColor(group, role, grayed ? disabled : normal.color(group, role));
    }
    field->setPalette(palette);
}

bool grayed(const QWidget* field)
{
    if (!field)
        return false;
    const QPalette& palette = field->palette();
    const QPalette normal = QApplication::palette(field);
    return palette.color(QPalette::Active, QPalette::Text) == normal.color(QPalette::Disabled, QPalette::Text);
}
