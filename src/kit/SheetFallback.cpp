#include "kit/SheetFallback.h"

#include "kit/KitScreenFit.h"

#include <QDialog>
#include <QFileDialog>
#include <QPointer>

#include <memory>

bool SheetFallback::beginSheet(QDialog* sheet, QWidget* parent, CompletionHandler handler)
{
    if (!sheet || !parent)
        return false;
    QWidget* parentWindow = parent->window();
    if (parentWindow == sheet || sheet->isVisible())
        return false;

    if (sheet->parentWidget() != parentWindow) {
        const Qt::WindowFlags flags = sheet->windowFlags();
        sheet->setParent(parentWindow, flags | Qt::Dialog);
    }
    sheet->setWindowModality(Qt::WindowModal);

    // finished() may come more than once (a dialog ended twice, or reused); this handler
    // belongs to this one showing only.
    auto pending = std::make_shared<CompletionHandler>(std::move(handler));
    QObject::connect(
        sheet, &QDialog::finished, sheet,
        [pending](int code) {
            CompletionHandler run = std::move(*pending);
            *pending = nullptr;
            if (run)
                run(code);
        },
        Qt::SingleShotConnection);
    sheet->open();
    // A long list must not push the sheet's buttons off the screen.
    KitKeepOnScreen(sheet);
    return true;
}

bool SheetFallback::endSheet(QDialog* sheet, int64_t returnCode)
{
    if (!sheet || !sheet->isVisible() || !sheet->parentWidget())
        return false;
    // The handler runs inside done() and may delete the sheet (or the controller that owns it).
    const QPointer<QDialog> alive(sheet);
    sheet->done(static_cast<int>(returnCode));
    if (alive)
        alive->close(); // a dialog that deletes itself on close goes now
    return true;
}

void SheetFallback::beginFileSheet(QFileDialog* dialog, QWidget* parent, std::function<void(const QString&)> chosen)
{
    if (!dialog)
        return;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<QFileDialog> guard(dialog);
    auto done = [guard, chosen = std::move(chosen)](int64_t code) {
        if (code != QDialog::Accepted || !guard || guard->selectedFiles().isEmpty() || !chosen)
            return;
        chosen(guard->selectedFiles().first());
    };
    if (!beginSheet(dialog, parent, done)) {
        QObject::connect(dialog, &QDialog::finished, dialog, [done](int code) { done(code); });
        dialog->open();
    }
}
