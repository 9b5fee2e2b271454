// The multi-encoder's page: the encoders every source is converted with, each with its own
// settings, output location and effects, edited one at a time in KRAMultiEncConfigureEncoder.
// The page keeps the whole set in its host's argument text (KRAMultiEncConfig's string), and
// the configuration object it read, so that entries of encoders not offered now and the
// multi-CPU flag are written back as they were.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <memory>

#include "engine/KRAMultiEncConfig.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAEncoderPageHost.h"
#include "setup/KREEncoderPage.h"

class KRAEncoderPageMultiEnc;
class QCheckBox;
class QLabel;
class QVBoxLayout;

// One encoder's row: its logo and name, a settings and a remove button.
class KRAMultiEncEntryView : public QWidget {
    Q_OBJECT
public:
    KRAMultiEncEntryView(KRAEncoderPageMultiEnc* owner, const KRAMultiEncEntryRef& entry, QWidget* parent = nullptr);

    QPushButton* settingsButton() const { return m_settings; }
    QPushButton* removeButton() const { return m_remove; }

private:
    QPointer<QPushButton> m_settings;
    QPointer<QPushButton> m_remove;
};

class KRAEncoderPageMultiEnc : public KREEncoderPage {
    Q_OBJECT
public:
    explicit KRAEncoderPageMultiEnc(KRAEncoderPageHost* host, QObject* parent = nullptr);
    ~KRAEncoderPageMultiEnc() override;

    bool pageValidate() override;

    QList<KRAMultiEncEntryRef> encoders() const { return m_encoders; }
    void onAddEncoder();
    // Out-of-range rows do nothing.
    void onEncoderSettings(int row);
    void onEncoderRemove(int row);
    void configureEncoder(const KRAMultiEncEntryRef& entry, bool addingNew, int row);
    void updateArgs();
    // The row of a row view; -1 when it is none of this page's.
    int rowOfView(const QWidget* view) const;

    // For tests and pictures.
    class KRAMultiEncConfigureEncoder* configureDialog() const;
    QPushButton* addButton() const { return m_add; }
    QList<KRAMultiEncEntryView*> rowViews() const;
    QMessageBox* openAlert() const;

protected:
    void loadView() override;

private:
    void grabArgs();
    void reloadRows();
    QWidget* sheetParent();

    KRAMultiEncConfigRef m_config;
    QList<KRAMultiEncEntryRef> m_encoders;
    QPointer<QVBoxLayout> m_rows;
    QPointer<QWidget> m_rowsWidget;
    QPointer<QPushButton> m_add;
    QPointer<QCheckBox> m_multiCPU;
    QPointer<QDialog> m_dialog;
    QPointer<QMessageBox> m_alert;
};

// The sheet that edits one encoder of the set: the encoder, its page, where its files go and
// its effects. It works on the entry it was given (the page hands it a copy when editing).
class KRAMultiEncConfigureEncoder : public QDialog, public KRAEncoderPageHost {
    Q_OBJECT
public:
    KRAMultiEncConfigureEncoder(const KRAMultiEncEntryRef& entry, bool allowSameFolder, QWidget* parent = nullptr);
    ~KRAMultiEncConfigureEncoder() override;

    KRAMultiEncEntryRef config() const { return m_entry; }

    QString encoderArgs() const override { return m_entry->encoderArgsV2.strArgs; }
    void setEncoderArgs(const QString& args) override { m_entry->encoderArgsV2.strArgs = args; }
    QKEncoderArgs& encoderArgsV2() override { return m_entry->encoderArgsV2; }
    bool encoderAllowSameFolder() const override { return m_allowSameFolder; }
    QWidget* pageHostWindow() const override { return const_cast<KRAMultiEncConfigureEncoder*>(this); }

    void onEncoderSelected();
    void onOK();
    void onCancel();
    void reject() override { onCancel(); }

    QComboBox* encoderPicker() const { return m_picker; }
    KREEncoderPage* encoderPage() const { return m_page.get(); }
    KRAOutputLocationPickerV2* locationPicker() const { return m_locationPicker; }
    KRADSPListPane* dspList() const { return m_dspList; }

private:
    void createEncoderPage();
    void end(int code);

    KRAMultiEncEntryRef m_entry;
    bool m_allowSameFolder = false;
    bool m_done = false;
    QList<QKEncoderDescRef> m_encoderList;
    std::shared_ptr<QKDSPChain> m_chain;
    QPointer<QComboBox> m_picker;
    QPointer<QWidget> m_pageHost;
    QPointer<KRAOutputLocationPickerV2> m_locationPicker;
    QPointer<KRADSPListPane> m_dspList;
    std::unique_ptr<KREEncoderPage> m_page;
};
