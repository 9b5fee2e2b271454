#include "tools/ui-shot/KeyCheck.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QTabBar>
#include <QWidget>

namespace {

// The letter after a single "&" ("&&" is a plain ampersand); none without one.
QChar MnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return QChar();
}

} // namespace

QStringList DuplicateMnemonics(QWidget* window)
{
    QMap<QChar, QStringList> claims;
    const auto claim = [&](const QWidget* widget, const QString& text) {
        if (!widget->isVisibleTo(window))
            return;
        const QChar letter = MnemonicOf(text);
        if (!letter.isNull())
            claims[letter].append(text);
    };
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window)
            continue; // a dialog of its own has its own letters
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            claim(button, button->text());
        else if (const auto* label = qobject_cast<const QLabel*>(widget); label && label->buddy())
            claim(label, label->text());
        else if (const auto* box = qobject_cast<const QGroupBox*>(widget); box && box->isCheckable())
            claim(box, box->title());
        else if (const auto* tabs = qobject_cast<const QTabBar*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->isTabVisible(i))
                    claim(tabs, tabs->tabText(i));
    }
    QStringList duplicates;
    for (auto it = claims.constBegin(); it != claims.constEnd(); ++it)
        if (it->size() > 1)
            duplicates.append(QStringLiteral("Alt+%1: %2").arg(it.key()).arg(it->join(QStringLiteral(", "))));
    return duplicates;
}
