// The output-location picker: one pop-up that the converter setup and the multi-encoder's
// encoder dialog embed to choose where converted files go. Its menu offers the commands
// ("Edit Dynamic Naming", "Existing Source Folder(s)", "Single Folder", "Preserve Source
// Path"), a separator, the recently used locations and the default movie folder.
//
// The picker edits its host's naming object in place (every command leaves a dynamic naming:
// a base folder plus a template) and calls the change handler after each change.
#pragma once

#include <QComboBox>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "job/QKEncoderDesc.h"
#include "kit/QKAttributedText.h"
#include "kit/QKViewController.h"

class KRADynamicNamingDialogV2;
class KRADynamicNamingDialogV2_Context;
class KRAFileNaming;
using KRAFileNamingRef = std::shared_ptr<KRAFileNaming>;

// One row of the pop-up: a command (a naming to apply or an action to run) or a location.
class KRAOutputLocationPickerEntry {
public:
    enum class Action { None, EditDynamicNaming, SingleFolder, PreservePath };

    QString displayValue; // empty for a row that stands for a naming
    KRAFileNamingRef naming;
    Action action = Action::None;

    static KRAOutputLocationPickerEntry entryNamed(const QString& name, const KRAFileNamingRef& naming);
    static KRAOutputLocationPickerEntry entryNamed(const QString& name, Action action);
    static KRAOutputLocationPickerEntry entryNamed(const QString& name);
    static KRAOutputLocationPickerEntry entryWithNaming(const KRAFileNamingRef& naming);
    static KRAOutputLocationPickerEntry separator();

    bool isSeparator() const { return displayValue == QStringLiteral("---") && !naming; }
    QString description() const { return displayValue; }
    // Commands in red; locations in the naming's own colours; empty when there is neither.
    QKAttributedText attributedDescription() const;
};

class KRAOutputLocationPickerV2 : public QKViewController {
    Q_OBJECT
public:
    explicit KRAOutputLocationPickerV2(QObject* parent = nullptr);
    ~KRAOutputLocationPickerV2() override;

    std::shared_ptr<KRADynamicNamingDialogV2_Context> namingDialogContext() const { return m_context; }
    void setNamingDialogContext(std::shared_ptr<KRADynamicNamingDialogV2_Context> context)
    {
        m_context = std::move(context);
    }
    // Called after every change the picker makes to the naming.
    void setChangeHandler(std::function<void()> handler) { m_onChange = std::move(handler); }

    QKEncoderDescRef encoder() const { return m_encoder; }
    // Encoders that write no files into a folder disable the picker.
    void setEncoder(const QKEncoderDescRef& encoder);
    bool isEnabled() const { return m_enabled; }

    KRAFileNamingRef fileNaming() const { return m_fileNaming; }
    // Keeps the object itself (made dynamic first); the picker edits it from now on.
    void setFileNaming(const KRAFileNamingRef& naming);
    // Takes the type, destination and template of naming into the edited object.
    void applyNaming(const KRAFileNaming& naming);

    // Remembers the current naming among the recent locations (not the same-folder one).
    void saveToRecentList();
    // Same type, destination and template.
    static bool namingEquals(const KRAFileNaming& a, const KRAFileNaming& b);

    // The rows as shown and the selected one; -1 while disabled.
    QList<KRAOutputLocationPickerEntry> rows() const { return m_rows; }
    int selectedRow() const { return m_selected; }
    QList<KRAFileNamingRef> recentList() const { return m_recent; }
    // Chooses a row as the user would (commands open their dialogs).
    void selectRow(int row);

    // The commands; the folder commands open a folder chooser, the last the naming dialog.
    void onSingleFolder();
    void onPreserveSourcePath();
    void editDynamicNaming();
    // The folder commands with the folder already chosen (null: cancelled).
    void singleFolderChosen(const QString& folder);
    void preservePathChosen(const QString& folder);
    // The naming dialog's end (1: OK).
    void namingDialogEnded(KRADynamicNamingDialogV2* dialog, int64_t code);

    QComboBox* comboBox() const { return m_combo; }
    // The open naming dialog, if any (tests).
    KRADynamicNamingDialogV2* namingDialog() const;

protected:
    void loadView() override;

private:
    void buildFixedValues();
    void updateCombo();
    void reselectCurrent();
    void fillCombo();
    void onComboActivated(int index);
    void onChanged();
    QWidget* sheetParent() const;

    std::shared_ptr<KRADynamicNamingDialogV2_Context> m_context;
    std::function<void()> m_onChange;
    QKEncoderDescRef m_encoder;
    KRAFileNamingRef m_fileNaming;
    bool m_didLoadView = false;
    bool m_enabled = false;
    bool m_filling = false;
    QList<KRAOutputLocationPickerEntry> m_fixedValues;
    QList<KRAOutputLocationPickerEntry> m_rows;
    QList<KRAFileNamingRef> m_recent;
    int m_selected = -1;
    QPointer<QComboBox> m_combo;
    QPointer<KRADynamicNamingDialogV2> m_namingDialog;
};
