// "Concatenate Setup": the files to join into one output, put in order by dragging rows (or
// with Alt+Up/Down). Proceed makes one concatenation source of them and opens the converter
// setup for it; Back returns to the panel that opened the dialog.
//
// Rows are dragged only within the dialog they come from: the drag carries the dialog's own
// identity, and drops from another dialog or program are refused.
#pragma once

#include <QList>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

#include "engine/QKConvertSource.h"
#include "kit/KRAPanel.h"

class QKConcatenateOrderDialog : public QKPanelViewController {
    Q_OBJECT
public:
    QKConcatenateOrderDialog();
    ~QKConcatenateOrderDialog() override;

    QList<QUrl> sources() const { return m_sources; }
    void setSources(const QList<QUrl>& sources);
    std::shared_ptr<KRAPanel> panelReturnTo() const { return m_returnTo.lock(); }
    void setPanelReturnTo(const std::shared_ptr<KRAPanel>& panel) { m_returnTo = panel; }

    // KRAPanel
    QString panelName() override { return QStringLiteral("Concatenate Setup"); }
    QString panelSizeClass() override { return QStringLiteral("Concatenate Setup"); }
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) override { m_host = host; }

    QString viewID() const { return m_viewID; }
    // Dragging: the data of a drag of rows, whether a drop above row is taken, the drop.
    QMimeData* mimeDataForRows(const QList<int>& rows) const;
    bool validateDrop(const QMimeData* data, int row, bool between) const;
    bool acceptDrop(const QMimeData* data, int row);

    void onGoBack();
    // The ordered files as one concatenation source, handed to the converter setup.
    void onProceed();
    void onRevealInFileManager();

    // The other form of a join: a source reading a list file ("-f concat"), written now; none,
    // with the reason shown on the host's window, when it cannot be written.
    std::shared_ptr<QKConvertSourceTemp> makeConcatSource();
    // The list file ffmpeg's concat reader takes: one "file '...'" line per source, "'" written
    // as '\'' , lines joined by a line feed. A name with a line break or carriage return would
    // add lines of its own: such a list is refused (false, error says which file).
    static bool writeConcatList(const QString& path, const QList<QUrl>& sources, QString* error);

    QListWidget* table() const { return m_table; }
    QPushButton* proceedButton() const { return m_proceed; }

protected:
    void loadView() override;

private:
    void reloadTable(const QList<int>& select = {});
    void moveSelection(int by);
    friend class QKConcatenateOrderList;

    std::weak_ptr<KRAPanelHostInterface> m_host;
    QString m_viewID;
    QList<QUrl> m_sources;
    std::weak_ptr<KRAPanel> m_returnTo;
    QPointer<QListWidget> m_table;
    QPointer<QPushButton> m_proceed;
};
