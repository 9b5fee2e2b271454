// Sheets: a dialog shown window-modal over a parent window, with a completion handler that
// receives the return code when the dialog ends.
//
// A sheet is a QDialog opened with open() on the parent's window; the handler runs on the
// dialog's finished(int), after the dialog has left the screen, and exactly once per
// beginSheet however the dialog ends (endSheet, accept, reject, Escape, its close button).
// Callers pass 1 for accept and 0 for cancel. The dialog becomes a child of the parent's
// window, so Qt deletes it with that window: keep it in a QPointer, not an owning pointer.
#pragma once

#include <cstdint>
#include <functional>

class QDialog;
class QFileDialog;
class QString;
class QWidget;

class SheetFallback {
public:
    using CompletionHandler = std::function<void(int64_t returnCode)>;

    // Shows the sheet over parent's window. False, and nothing happens, without a sheet or a
    // parent, when the sheet is the parent itself, or when the sheet is already showing.
    static bool beginSheet(QDialog* sheet, QWidget* parent, CompletionHandler handler);
    // Ends a showing sheet with the code (delivered to the handler) and closes it. False, and
    // nothing happens, when the dialog is missing or not showing as a sheet.
    static bool endSheet(QDialog* sheet, int64_t returnCode);
    // Shows a file dialog as a sheet over parent (an ordinary modal dialog when there is no
    // window to hang it on), deleted once closed; chosen gets the first selected file of an
    // accepted dialog.
    static void beginFileSheet(QFileDialog* dialog, QWidget* parent, std::function<void(const QString& path)> chosen);
};
