#include "kit/SheetFallback.h"

#include <QDialog>
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
