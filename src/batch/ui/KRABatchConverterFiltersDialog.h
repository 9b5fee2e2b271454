// The batch converter's filters: one tab per filter field. "File Types" and the information
// fields are check lists (a ticked row is let through, an unticked one excluded), "Date" a
// maximum age. The dialog works on a copy of the batch converter's filter and hands it back
// only on OK. The information fields' values come from the tag-field cache of the folders the
// batch converter has ticked, in the background; a dialog closed before they arrive drops them.
#pragma once

#include "batch/KRAFileFilter.h"
#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"
#include "media/KRAMetaFieldCache.h"

#include <QComboBox>
#include <QMap>
#include <QPointer>
#include <QProgressBar>
#include <QStringList>
#include <QTabWidget>
#include <QTableView>

#include <memory>
#include <optional>

class KRABatchConvertDialog;
class QAbstractTableModel;

struct KRAFiltersEntry {
    QString key;  // the value stored in the filter
    QString name; // what the row shows
    bool checked = true;
};

// One check list with a spinner while its rows are still coming.
class KRABatchConverterFiltersPane : public QKViewController {
    Q_OBJECT
public:
    explicit KRABatchConverterFiltersPane(QObject* parent = nullptr);
    ~KRABatchConverterFiltersPane() override;

    // None: still loading.
    const std::optional<QList<KRAFiltersEntry>>& data() const { return m_data; }
    void deliverData(const QList<KRAFiltersEntry>& rows);
    bool loading() const { return !m_data.has_value(); }
    QTableView* tableView() const { return m_table; }

    void onCheckAll()
    {
        setAll([](bool) { return true; });
    }
    void onUncheckAll()
    {
        setAll([](bool) { return false; });
    }
    void onInvertSelection()
    {
        setAll([](bool checked) { return !checked; });
    }
    void onCheckSelected(bool checked);
    void setRowChecked(int row, bool checked);

protected:
    void loadView() override;

private:
    void setAll(const std::function<bool(bool)>& rule);
    void reload();

    std::optional<QList<KRAFiltersEntry>> m_data;
    QPointer<QTableView> m_table;
    QPointer<QProgressBar> m_progress;
    QAbstractTableModel* m_model = nullptr;
};

// The maximum age, in days, as offered texts or a typed number.
class KRABatchConverterFiltersPaneDate : public QKViewController {
    Q_OBJECT
public:
    explicit KRABatchConverterFiltersPaneDate(QObject* parent = nullptr);

    static const QStringList& values();
    // The leading whole number of a text (blanks and a sign allowed before it); 0 without one.
    static int daysOf(const QString& text);
    QString strValue() const;
    void setStrValue(const QString& text);
    void setValueDays(int days);
    QComboBox* comboBox() const { return m_combo; }

protected:
    void loadView() override;

private:
    QString m_strValue;
    QPointer<QComboBox> m_combo;
};

class KRABatchConverterFiltersDialog : public QKPanelViewController,
                                       public QKCancelOperation,
                                       public std::enable_shared_from_this<KRABatchConverterFiltersDialog> {
    Q_OBJECT
public:
    static std::shared_ptr<KRABatchConverterFiltersDialog>
    startWithDialog(const std::shared_ptr<KRABatchConvertDialog>& owner);
    ~KRABatchConverterFiltersDialog() override;

    const KRAFileFilter& filter() const { return m_filter; }
    KRABatchConverterFiltersPane* paneFor(const QString& field) const;
    KRABatchConverterFiltersPaneDate* datePane() const { return m_datePane.get(); }
    QTabWidget* tabView() const { return m_tabs; }

    void onOK();
    void onCancel();
    // Stores the panes' choices in the working filter.
    void apply();
    // The tag-field cache's answer, on the main thread.
    void deliverMetaFieldCacheResults(const KRAMetaFieldResults& results);

    // Escape: Cancel.
    void cancelOperation(QObject*) override { onCancel(); }

    QString panelName() override { return QStringLiteral("Filter"); }
    QString panelSizeClass() override { return QStringLiteral("Batch Converter"); }
    QSize panelMinSize() override { return QSize(480, 360); }
    bool panelSizeToHost() override { return true; }

protected:
    void loadView() override;

private:
    KRABatchConverterFiltersDialog() = default;
    void endDialog(int code);

    KRAFileFilter m_filter;
    std::weak_ptr<KRABatchConvertDialog> m_owner;
    QMap<QString, QList<KRAFiltersEntry>> m_dataByView;
    QMap<QString, std::shared_ptr<KRABatchConverterFiltersPane>> m_viewByField;
    std::shared_ptr<KRABatchConverterFiltersPaneDate> m_datePane;
    QPointer<QTabWidget> m_tabs;
    bool m_ended = false;
};
