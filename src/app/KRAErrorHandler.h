// Bug reports: an exception, or any error text, becomes a report file "BugEntry-<pid>-<n>.txt"
// in the application-data folder and a window that shows the report, with buttons to save a
// copy and to visit the support forum. The window keeps itself alive until it is closed.
#pragma once

#include "kit/KRARetainedWindowController.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QString>

#include <exception>
#include <memory>

class KRAException;

class KRAErrorHandler : public KRARetainedWindowController {
    Q_OBJECT
public:
    static constexpr const char* kSupportForumURL = "https://www.marvoni.com/forum/";

    explicit KRAErrorHandler(const QString& content);

    // Writes the report of the exception and shows it. Returns the window's controller.
    static std::shared_ptr<KRAErrorHandler> handleException(std::exception_ptr error);
    static std::shared_ptr<KRAErrorHandler> handleException(const std::exception& error);
    // Appends the version lines to the text and shows it in a new window (not modal).
    static std::shared_ptr<KRAErrorHandler> handleErrorText(const QString& text);

    // The report of an exception: name, reason, the user information when there is any,
    // and the call stack at the throw (empty for exceptions that are not KRAException).
    static QString reportText(const KRAException& error);
    static QString reportText(std::exception_ptr error);
    // "\n\nApp version: ...\nOS version: ...".
    static QString versionLines();
    // Writes the text, as UTF-8, to the first "BugEntry-<pid>-<n>.txt" of the data folder
    // that does not exist yet (n counts up for the whole process, from 1); an existing file
    // is never overwritten. The path, or empty text when nothing could be written.
    static QString writeReportFile(const QString& text);

    QString content() const { return m_content; }
    QPlainTextEdit* errorTextView() const { return m_errorTextView; }

public slots:
    // Asks for a file (a sheet over the report window) and writes the report to it.
    void onSave();
    void onTechSupport();

protected:
    QWidget* loadWindow() override;
    void windowDidLoad() override;

private:
    QString m_content;
    QPointer<QPlainTextEdit> m_errorTextView;
};
