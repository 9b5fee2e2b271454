#include "kit/KitMenus.h"

#include <QCheckBox>
#include <QKeySequence>

QString mnemonicFree(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QAction* addItemWithTitle(QMenu* menu, const QString& title)
{
    if (!menu)
        return nullptr;
    QAction* action = menu->addAction(mnemonicFree(title));
    action->setShortcut(QKeySequence());
    return action;
}

QAction* addSeparator(QMenu* menu)
{
    return menu ? menu->addSeparator() : nullptr;
}

QAction* addSubMenu(QMenu* menu, QMenu* submenu, const QString& title)
{
    if (!menu)
        return nullptr;
    if (!submenu)
        return addItemWithTitle(menu, title);
    submenu->setTitle(mnemonicFree(title));
    if (!submenu->parent())
        submenu->setParent(menu, submenu->windowFlags()); // keeps it a pop-up
    return menu->addMenu(submenu);
}

bool checked(const QAction* action)
{
    return action && action->isChecked();
}

bool checked(const QAbstractButton* button)
{
    if (const auto* box = qobject_cast<const QCheckBox*>(button))
        return box->checkState() == Qt::Checked;
    return button && button->isChecked();
}

void setChecked(QAction* action, bool on)
{
    if (!action)
        return;
    if (on)
        action->setCheckable(true);
    action->setChecked(on);
}

void setChecked(QAbstractButton* button, bool on)
{
    if (!button)
        return;
    if (on)
        button->setCheckable(true);
    button->setChecked(on);
}
