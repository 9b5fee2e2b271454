// The converter setup: the panel between choosing files and converting them. The user picks
// an encoder or a profile, sets the encoder's page, the chain of effects and where the files
// go, and Go (Convert) checks and saves the setup and hands it to the host.
//
// The dialog is the encoder page's host: every page reads and writes its arguments through
// it, and it keeps them in the active profile, which is saved on every encoder change, on Go
// and when the panel closes.
#pragma once

#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QString>

#include <memory>

#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/ui/KRAFileListDialog.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAEncoderPageHost.h"
#include "setup/KRAPreConvertHost.h"
#include "setup/KRAProfileDialogs.h"

class KREEncoderPage;
class QWidget;

class KRAPreConvertDialog;

// The naming context of the setup: the encoder, its settings and the effect chain are
// answered live from the dialog.
class KRADynamicNamingDialogV2_Context_KRAPreConvertDialog : public KRADynamicNamingDialogV2_Context {
public:
    QPointer<KRAPreConvertDialog> owner;

    QString encoder() const override;
    QString encoderSettings() const override;
    QString dspEffectsString() const override;
};

class KRAPreConvertDialog : public QKPanelViewController,
                            public KRAEncoderPageHost,
                            public KRAFileListOwner,
                            public QKCancelOperation,
                            public std::enable_shared_from_this<KRAPreConvertDialog> {
    Q_OBJECT
public:
    // host is kept weakly; it must also be a KRAPreConvertHost.
    explicit KRAPreConvertDialog(const std::shared_ptr<KRAPanelHostInterface>& host);
    ~KRAPreConvertDialog() override;

    // ---- The panel ----
    QSize panelMinSize() override { return QSize(680, 640); }
    QString panelSizeClass() override { return QStringLiteral("Converter Setup"); }
    QUrl panelHelpURL() override;
    bool panelAllowsOpenFileMenu() override { return true; }
    QWidget* panelInitialFocus() override { return m_picker; }
    void panelWillClose() override;
    bool canPreview() const { return false; }
    void reloadPreview() {}

    // ---- The encoder page's host ----
    QString encoderArgs() const override;
    void setEncoderArgs(const QString& args) override;
    QKEncoderArgs& encoderArgsV2() override;
    bool encoderAllowSameFolder() const override { return true; }
    QWidget* pageHostWindow() const override;
    void encoderArgsChanged();

    // ---- List and rename ----
    QList<KRAFileListItem> fileListItems() const override;
    KRAFileNamingRef fileListNaming() const override;
    QKEncoderDescRef fileListEncoder() const override;
    QString fileListEncoderArgs() const override { return encoderArgs(); }
    QKFileInfoCacheRef fileListInfoCache() const override;
    void fileListApply(const QMap<int, KRAFileListEdit>& edits) override;

    // ---- Actions ----
    // The pop-up's choice, by the item's title.
    void encoderSelected();
    void onButtonGo();
    void onButtonCancel();
    // Escape: Back.
    void cancelOperation(QObject* sender) override;
    void onListRenameFiles();
    void onDSPChanged();
    void resetDestinationFiles();
    // List and rename applied edits: user destinations may now stand in the entries.
    void fileListDialogApply();
    // List and rename closed: back to this panel.
    void onSubDialogClose() override;
    bool encoderPageValidate();
    void encoderPageWillClose();

    // The panel to return to on Back (none: Back closes the window).
    std::shared_ptr<KRAPanel> invokerPanel() const { return m_invoker.lock(); }
    void setInvokerPanel(const std::shared_ptr<KRAPanel>& panel) { m_invoker = panel; }

    std::shared_ptr<KRADynamicNamingDialogV2_Context_KRAPreConvertDialog> namingDialogContext() const
    {
        return m_namingContext;
    }
    KRAConfigRef config() const;
    KRAProfileRef activeProfile() const;
    bool possibleUserPaths() const { return m_possibleUserPaths; }

    // For tests and pictures.
    QComboBox* encoderPickButton() const { return m_picker; }
    QPushButton* buttonConvert() const { return m_convert; }
    QPushButton* buttonListFiles() const { return m_listFiles; }
    QPushButton* buttonBack() const { return m_back; }
    KREEncoderPage* encoderPage() const { return m_encoderPage.get(); }
    KRADSPListPane* dspList() const { return m_dspList; }
    KRAOutputLocationPickerV2* locationPicker() const { return m_locationPicker; }
    std::shared_ptr<KRAFileListDialog> fileListDialog() const { return m_fileList; }
    // The sheet or alert the dialog has open, if any.
    KRACreateProfile* createProfileSheet() const;
    QMessageBox* openAlert() const;
    // Selects the pop-up's item with that title and acts on it as a user's choice would;
    // false when there is none.
    bool chooseItem(const QString& title);

    static QString installCodecsTitle() { return QStringLiteral("Install missing codecs - MP4, Matroska and more"); }
    static QString createProfileTitle() { return QStringLiteral("[Create New Profile]"); }
    static QString deleteProfileTitle() { return QStringLiteral("[Delete Selected Profile]"); }

protected:
    void loadView() override;

private:
    KRAPreConvertHost* preConvertHost() const;
    void oneTimeInit();
    void refreshConvertingNFiles();
    void orderTabs();
    void prepareEncoderPicker();
    void fixProfileIcons();
    void selectActiveInPicker();
    void createEncoderPage();
    void createDSPPane();
    void updateDSP();
    void createLocationPicker();
    void switchToProfile(const QString& name);
    void handleCreateProfile();
    void createProfileEnded(int64_t code);
    void handleDeleteProfile();
    void showAlert(const QString& text);
    void addMenuSeparator();
    void removeMenuSeparator();

    std::weak_ptr<KRAPanelHostInterface> m_host;
    std::weak_ptr<KRAPanel> m_invoker;
    std::shared_ptr<KRAFileListDialog> m_fileList;
    std::shared_ptr<KRADynamicNamingDialogV2_Context_KRAPreConvertDialog> m_namingContext;
    std::unique_ptr<KREEncoderPage> m_encoderPage;
    QPointer<KRADSPListPane> m_dspList;
    QPointer<KRAOutputLocationPickerV2> m_locationPicker;
    bool m_possibleUserPaths = false;
    bool m_selecting = false;
    KRAProfileRef m_noProfile; // what encoderArgsV2 answers without an active profile
    QKEncoderArgs m_emptyArgs;

    QPointer<QComboBox> m_picker;
    QPointer<QPushButton> m_convert;
    QPointer<QPushButton> m_listFiles;
    QPointer<QPushButton> m_back;
    QPointer<QWidget> m_codecPageHost;
    QPointer<QWidget> m_dspListContainer;
    QPointer<QScrollArea> m_effectsScroll;
    QPointer<QWidget> m_outputPickerContainer;
    QPointer<KRACreateProfile> m_createSheet;
    QPointer<QMessageBox> m_alert;
};
