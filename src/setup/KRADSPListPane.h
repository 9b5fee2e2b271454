// The effect chain editor: a pane that lists the effects of one chain, adds effects from a
// menu that enforces the chain rules, opens each effect's page in a window-modal dialog,
// removes one or all, reorders them by dragging (or Alt+Up/Down), and saves or loads a chain
// as a ".dspeffect" file. The converter setup and the multi-encoder's encoder dialog embed it.
//
// The pane edits the chain it was given in place (a shared chain), so whoever handed it over
// sees every edit; chainChanged follows each one.
#pragma once

#include <QDialog>
#include <QList>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "job/QKDSPSpec.h"
#include "job/QKEncoderDesc.h"
#include "kit/QKViewController.h"

class KRADSPPage;
class KRADSPSettingsDialog;
class KRADynamicNamingDialogV2_Context;
class QLabel;
class QListWidgetItem;
class QMenu;
class QMimeData;

class KRADSPListPane : public QKViewController {
    Q_OBJECT
public:
    explicit KRADSPListPane(QObject* parent = nullptr);
    ~KRADSPListPane() override;

    std::shared_ptr<QKDSPChain> dspEffects() const { return m_effects; }
    // Keeps the chain itself (null: a new empty one) and shows it.
    void setDspEffects(std::shared_ptr<QKDSPChain> effects);
    QString dspEffectsString() const;
    // A new chain from the chain string.
    void setDspEffectsString(const QString& text);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // The multi-encoder carries a chain per encoder: the pane is then disabled with a message.
    void onHostEncoder(const QKEncoderDescRef& encoder);
    QString disabledMessage() const { return m_disabledMessage; }
    bool ownedByTracklift() const { return m_ownedByTracklift; }
    void setOwnedByTracklift(bool owned) { m_ownedByTracklift = owned; }
    std::shared_ptr<KRADynamicNamingDialogV2_Context> namingDialogContext() const { return m_namingContext; }
    void setNamingDialogContext(std::shared_ptr<KRADynamicNamingDialogV2_Context> context)
    {
        m_namingContext = std::move(context);
    }
    // "viewID-PID-N": drags are taken only by the pane they came from.
    QString viewIdentifier() const { return m_viewIdentifier; }

    // The add menu as it is when it opens: the catalogue's effects allowed here, each enabled
    // when the chain rules let it join the chain, and the way to a full ffmpeg when the GPL
    // effects are hidden. The caller owns the menu.
    QMenu* makeAddMenu(QWidget* parent = nullptr);
    // Pops the add menu up under the Add button.
    void onAddDSP();
    // Appends the effect with empty arguments and opens its settings; cancelling that first
    // dialog takes the effect out again.
    void onAddThisDSP(const QString& name);
    // The row's settings dialog (out-of-range rows do nothing).
    void onDSPSettingsRow(int row);
    void onDSPRemoveRow(int row);
    void onDSPRemoveSelected();
    // Asks "Clear All Effects?" first; an empty chain asks nothing.
    void onDSPClear();
    void onDSPSave();
    void onDSPLoad();
    void onInstallFFmpeg();
    // What "Install missing effects" opens (the configuration panel, filled in at start-up).
    static void setInstallFFmpegHandler(std::function<void(QWidget* parent)> handler);

    // The chain file: the chain string as UTF-16 little-endian text without byte-order mark,
    // written through a temporary file so that a failed save leaves the old file whole.
    static bool writeChainFile(const QString& path, const QString& chainString, QString* error);
    // The chain string of a file; none, with the reason, for a file that cannot be read, is no
    // plain file (a pipe or a device is refused without waiting on it), is larger than 1 MB or
    // is no text. The text is UTF-16 little-endian as saved; a byte-order mark (UTF-16 of
    // either order, UTF-8) is followed, and bytes without a NUL that are UTF-8 are read as
    // UTF-8 (a chain in UTF-16 always holds NULs: its names are ASCII).
    static std::optional<QString> readChainFile(const QString& path, QString* error);
    // The same over the file's bytes.
    static std::optional<QString> decodeChainFile(const QByteArray& bytes, QString* error);
    // The chain of a file: only whole entries of known effects whose settings their page reads
    // back as they stand (a cut "-DELSOURCERECYCLE" is no setting of Delete Source File).
    static std::optional<QKDSPChain> readChain(const QString& path, QString* error);
    // The same over a decoded text.
    static std::optional<QKDSPChain> chainFromText(const QString& text, QString* error);
    // Loads the file into the pane (the chain stays on failure).
    bool loadFrom(const QString& path, QString* error);

    // Dragging: the data of a drag of those rows, whether a drop above row is taken, and
    // the drop itself (false: refused).
    QMimeData* mimeDataForRows(const QList<int>& rows) const;
    bool validateDrop(const QMimeData* data, int row, bool above) const;
    bool acceptDrop(const QMimeData* data, int row);
    // Moves the specs at rows (in chain order) together to the target row, counted before the
    // move; answers the rows they stand at afterwards.
    static QList<int> moveRows(QKDSPChain& chain, QList<int> rows, int target);

    // For tests and pictures.
    QListWidget* table() const { return m_table; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* loadButton() const { return m_load; }
    KRADSPSettingsDialog* settingsDialog() const { return m_settings; }

signals:
    void chainChanged();

protected:
    void loadView() override;

private:
    friend class KRADSPListEntry;
    void reloadTable();
    void refreshButtons();
    void onChanged();
    void configureThisDSP(int row, bool isNew);
    void settingsDialogEnded(KRADSPSettingsDialog* dialog, int64_t code, int row, bool isNew,
                             const QKDSPSpec& original);
    int rowOfEntry(const QWidget* entry) const;
    QWidget* sheetParent();
    void showError(const QString& title, const QString& text);

    std::shared_ptr<QKDSPChain> m_effects;
    QString m_viewIdentifier;
    bool m_ownedByTracklift = false;
    bool m_enabled = true;
    QString m_disabledMessage;
    std::shared_ptr<KRADynamicNamingDialogV2_Context> m_namingContext;

    QPointer<QListWidget> m_table;
    QPointer<QPushButton> m_add;
    QPointer<QPushButton> m_clear;
    QPointer<QPushButton> m_save;
    QPointer<QPushButton> m_load;
    QPointer<KRADSPSettingsDialog> m_settings;
};

// One effect's row: its logo and name, a settings and a remove button.
class KRADSPListEntry : public QWidget {
    Q_OBJECT
public:
    KRADSPListEntry(KRADSPListPane* owner, const QKDSPSpec& spec, QWidget* parent = nullptr);

    QToolButton* settingsButton() const { return m_settings; }
    QToolButton* removeButton() const { return m_remove; }

private:
    QPointer<KRADSPListPane> m_owner;
    QPointer<QToolButton> m_settings;
    QPointer<QToolButton> m_remove;
};

// The dialog that hosts one effect's page. It edits a copy of the effect's name and settings;
// the pane takes the arguments back when the dialog ends with 1.
class KRADSPSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit KRADSPSettingsDialog(QWidget* parent = nullptr);
    ~KRADSPSettingsDialog() override;

    const QKDSPSpec& spec() const { return m_spec; }
    // Makes the effect's page and shows the effect's arguments on it.
    void setSpec(const QKDSPSpec& spec);
    void setNamingDialogContext(std::shared_ptr<KRADynamicNamingDialogV2_Context> context)
    {
        m_namingContext = std::move(context);
    }
    KRADSPPage* page() const { return m_page.get(); }
    QWidget* pageHost() const { return m_pageHost; }

    // Takes the page's arguments unless the page refuses them; ends with 1.
    void onOK();

private:
    QKDSPSpec m_spec;
    std::shared_ptr<KRADynamicNamingDialogV2_Context> m_namingContext;
    QPointer<QWidget> m_pageHost;
    std::unique_ptr<KRADSPPage> m_page;
};
