// The permission probe: before the batch converter browses the user's folders, check that
// the folders it starts from can be read; when one exists but may not be opened, a panel
// says so and then lets the user go on to the batch converter.
#pragma once

#include "kit/KRAPanel.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QCheckBox;
class QLabel;

class QKProbePermissionsView : public QKPanelViewController {
    Q_OBJECT
public:
    static constexpr const wchar_t* kSuppressValue = L"SuppressPermissionsPrompt";
    static constexpr const char* kInstructionsURL = "https://www.marvoni.com/forum/folder-access/";

    explicit QKProbePermissionsView(QObject* parent = nullptr);

    // True when the panel should be shown: the registry number "SuppressPermissionsPrompt"
    // is 0 (or missing) and the Documents or the Desktop folder exists but may not be opened.
    static bool probeIfNeeded();
    // The folders the probe checks (the XDG Documents and Desktop folders).
    static QStringList probedFolders();
    // The first of the folders that exists and cannot be opened for lack of permission.
    static QString firstBlockedFolder(const QStringList& folders);
    static bool isFolderBlocked(const QString& path);

    std::shared_ptr<KRAPanel> panelContinueTo() const { return m_panelContinueTo; }
    void setPanelContinueTo(std::shared_ptr<KRAPanel> panel) { m_panelContinueTo = std::move(panel); }
    QString strMessage() const { return m_strMessage; }
    QString blockedFolder() const { return m_blockedFolder; }
    bool notAgain() const { return m_notAgain; }
    void setNotAgain(bool notAgain) { m_notAgain = notAgain; }

    // KRAPanel
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) override { m_host = host; }

public slots:
    // Shows the folder that may not be opened in the file manager, where its permissions
    // can be changed.
    void onOpenPreferences();
    void onViewInstructions();
    void onBtnContinue();
    // Stores the check box at once.
    void onNotAgain();

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    std::weak_ptr<KRAPanelHostInterface> m_host;
    std::shared_ptr<KRAPanel> m_panelContinueTo;
    QString m_strMessage;
    QString m_blockedFolder;
    bool m_notAgain = false;
    QPointer<QLabel> m_messageLabel;
    QPointer<QLabel> m_folderLabel;
    QPointer<QCheckBox> m_notAgainBox;
};
