// The short sheet that says that nothing is selected for conversion (or another short
// message): it closes by itself after a second, or at Escape.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QTimer;

class QKNoFilesSelectedMsg : public QDialog {
    Q_OBJECT
public:
    // text: empty for the usual "No video files selected for conversion!".
    explicit QKNoFilesSelectedMsg(const QString& text = QString(), QWidget* parent = nullptr);

    QString message() const;
    // Shows the sheet on the window (application-modal without one); it deletes itself.
    static QKNoFilesSelectedMsg* runWithWindow(QWidget* window, const QString& text = QString());
    // A warning that stays until it is answered, window-modal on the window (application-
    // modal without one); it deletes itself.
    static void showWarning(QWidget* window, const QString& text);
    // The one message that names ticked files no longer on the disk, which were left out.
    static QString missingFilesText(const QStringList& paths);
    // The last one shown, while it is (tests).
    static QKNoFilesSelectedMsg* lastShown();

    // The timer or Escape: ends the sheet with 1, once.
    void reject() override;

private:
    void endOnce();

    QPointer<QLabel> m_label;
    QPointer<QTimer> m_timer;
    bool m_ended = false;
};
