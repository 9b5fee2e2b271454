// The file-list panel: shows a list of files as full paths, one per row, in a window host,
// and lets the user save the list as a text file, reveal the files in the file manager, copy
// their paths, and go back to the panel it was opened from (OK).
//
// Reveal and copy act on the selected rows, or on every row when none is selected; saving
// always writes the whole list. Main thread only.
#pragma once

#include <QFileDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <QUrl>

#include <functional>
#include <memory>

#include "kit/KRAPanel.h"

class QAbstractItemModel;

class JQFileListDialog : public QKPanelViewController {
    Q_OBJECT
public:
    explicit JQFileListDialog(QObject* parent = nullptr);
    ~JQFileListDialog() override;

    // Makes a panel listing the URLs and shows it in the host; OK goes back to returnTo.
    static std::shared_ptr<JQFileListDialog> startWithURLs(const QList<QUrl>& urls,
                                                           const std::shared_ptr<KRAPanelHostInterface>& host,
                                                           const std::shared_ptr<KRAPanel>& returnTo);

    const QList<QUrl>& arrFileURLs() const { return m_urls; }
    void setArrFileURLs(const QList<QUrl>& urls);

    // The host owns the panel it shows, so the panel holds its host weakly.
    std::shared_ptr<KRAPanelHostInterface> panelHost() const { return m_host.lock(); }
    void setPanelHost(const std::shared_ptr<KRAPanelHostInterface>& host) { m_host = host; }
    std::shared_ptr<KRAPanel> panelReturnTo() const { return m_returnTo; }
    void setPanelReturnTo(const std::shared_ptr<KRAPanel>& panel) { m_returnTo = panel; }

    // The list's table (built with the view; null before).
    QTableView* table() const { return m_table; }

    // The selected rows in ascending order, or every row when none is selected.
    QList<int> selectedIndexes() const;
    QList<QUrl> selectedURLs() const;
    QString selectedURLsAsText() const;

    // The URLs' paths joined by line feeds; URLs with an empty path are left out, and the
    // text neither starts nor ends with a line feed. Paths that are not UTF-8 come through
    // the lossless bridge (each undecodable byte as U+DC00 + byte).
    static QString mergeURLs(const QList<QUrl>& urls);
    // The text shown for a URL: its full path.
    static QString pathText(const QUrl& url);

    // KRAPanel
    QSize panelMinSize() override { return QSize(440, 220); }
    bool panelSizeToHost() override { return true; }
    void panelDidBecomeVisible() override;

public slots:
    void onOK();
    void onSaveList();
    void onRevealinFinder();
    void onCopyPath();

protected:
    void loadView() override;

    using SaveLocationHandler = std::function<void(const QString& path)>;
    // Asks where to save the list: a save dialog, window-modal on the host's window. The
    // handler runs once the user confirmed, with the chosen path; not at all on cancel.
    virtual void chooseSaveLocation(SaveLocationHandler handler);
    // Tells the user that the list could not be written to path, and why: a window-modal
    // alert on the host's window.
    virtual void reportSaveFailure(const QString& path, const QString& reason);

    // Writes text as the whole new content of path, replacing an older file only once all of
    // it is on the disk. On failure the reason goes to *reason.
    static bool writeText(const QString& path, const QString& text, QString* reason);

private:
    void saveTo(const QString& path, const QString& text);
    QWidget* hostWindow();

    QList<QUrl> m_urls;
    std::weak_ptr<KRAPanelHostInterface> m_host;
    std::shared_ptr<KRAPanel> m_returnTo;
    QPointer<QTableView> m_table;
    QAbstractItemModel* m_model = nullptr; // owned by this panel (Qt child)
    QPointer<QFileDialog> m_saveDialog;
};
