// The dynamic naming dialog: the user edits a [tag] naming template (and, in the variant
// with a folder, the base folder it is taken below). Three menus insert ready-made pieces at
// the cursor (tags, file properties, functions), a fourth replaces the whole template with
// an example, three switches change the example data, and a live example shows the relative
// path the template gives.
//
// It is shown window-modal (SheetFallback::beginSheet) and ends with 1 (OK) or 0 (Cancel,
// Escape), once. The opener reads curPattern and, after fixBaseLocationURL, baseLocationURL.
//
// The example file is read on a worker thread: a slow or hung volume never freezes the
// window, and a result that arrives after the dialog has gone is dropped.
#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

#include "media/NTag.h"

class KRADynamicNamingDialogV2_Context;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

class KRADynamicNamingDialogV2 : public QDialog {
    Q_OBJECT
public:
    // folderPicker: the variant with the base-folder controls (the one the location picker
    // opens). A null context counts as a default one.
    KRADynamicNamingDialogV2(std::shared_ptr<KRADynamicNamingDialogV2_Context> context, bool folderPicker,
                             QWidget* parent = nullptr);
    ~KRADynamicNamingDialogV2() override;

    std::shared_ptr<KRADynamicNamingDialogV2_Context> context() const { return m_context; }
    bool hasFolderPicker() const { return m_folderPicker; }

    QString curPattern() const;
    void setCurPattern(const QString& pattern);
    QString windowTitleText() const { return m_windowTitle; }
    void setWindowTitleText(const QString& title);
    QString baseLocation() const;
    void setBaseLocation(const QString& text);
    QUrl baseLocationURL() const { return m_baseLocationURL; }
    void setBaseLocationURL(const QUrl& url) { m_baseLocationURL = url; }
    // When the user typed the base folder: the text taken below the home folder unless it
    // begins with "/" or "~", "~" expanded; nothing when baseLocationURL is set.
    void fixBaseLocationURL();

    // The example switches; exUseCurrentMeta is usable only while haveCurrentMeta.
    bool haveCurrentMeta() const { return m_haveCurrentMeta; }
    bool exUseCurrentMeta() const { return m_exUseCurrentMeta; }
    void setExUseCurrentMeta(bool on);
    bool exCompilation() const { return m_exCompilation; }
    void setExCompilation(bool on);
    bool exMultiDisc() const { return m_exMultiDisc; }
    void setExMultiDisc(bool on);
    // Replaces the example file's tags (a copy is kept).
    void setCurrentTrackMeta(const NTag& tags);
    // The live example: the template expanded for the example data, as a relative path.
    QString example() const { return m_example; }

    // The menus as [name, inserted text] pairs, in the order they are shown.
    QList<QPair<QString, QString>> tagMenuItems() const;
    QList<QPair<QString, QString>> propertyMenuItems() const;
    QList<QPair<QString, QString>> functionMenuItems() const;
    QList<QPair<QString, QString>> lstExamples() const { return m_examples; }
    // Inserts at the cursor (after the selection, which stays), then refreshes the example.
    void insertString(const QString& text);
    // Replaces the whole template.
    void applyExample(const QString& pattern);

    void onOK();
    void onCancel();
    // Sets the base folder to the root of the source drive ("/").
    void onBaseLocationToSourceDrive();

    // Whether the example file's tags are still being read (tests wait for it).
    bool isReadingExample() const { return m_reading; }

    // For tests and pictures.
    QLineEdit* patternField() const { return m_pattern; }
    QLineEdit* baseLocationField() const { return m_baseField; }
    QLabel* exampleLabel() const { return m_exampleLabel; }
    QCheckBox* useCurrentMetaSwitch() const { return m_useCurrent; }
    QPushButton* tagButton() const { return m_tagButton; }

signals:
    // The example file's tags arrived (or could not be read).
    void exampleMetaLoaded();

protected:
    void done(int code) override;

private:
    void buildWindow();
    void makeExamples();
    void startReadingExample();
    void exampleMetaArrived(const NTag& tags);
    void refreshExample();
    void popUpMenu(QPushButton* button, const QList<QPair<QString, QString>>& items, bool replace);
    void onSetBaseLocation();

    std::shared_ptr<KRADynamicNamingDialogV2_Context> m_context;
    bool m_folderPicker = false;
    bool m_didEndDialog = false;
    QString m_windowTitle;
    // Kept here as well as in the field: the variant without base-folder controls still
    // answers what the opener set.
    QString m_baseLocation;
    QUrl m_baseLocationURL;
    NTag m_currentTrackMeta;
    bool m_haveCurrentMeta = false;
    bool m_exUseCurrentMeta = false;
    bool m_exCompilation = false;
    bool m_exMultiDisc = false;
    bool m_reading = false;
    QString m_example;
    QList<QPair<QString, QString>> m_examples;

    // Children of the dialog, made in the constructor, gone with it.
    QLineEdit* m_pattern = nullptr;
    QLineEdit* m_baseField = nullptr;
    QLabel* m_exampleLabel = nullptr;
    QCheckBox* m_useCurrent = nullptr;
    QCheckBox* m_compilation = nullptr;
    QCheckBox* m_multiDisc = nullptr;
    QPushButton* m_tagButton = nullptr;
};
