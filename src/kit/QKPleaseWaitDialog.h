// The please-wait panel: a busy indicator and an optional Cancel button, shown in a window
// host while work runs in the background. Subclasses start their work in loadView(), return
// true from showCancel() to offer the button, and stop their work in onCancel(). Escape in
// the host window means the same as Cancel, but only while the panel shows the button.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"

class QKPleaseWaitDialog : public QKPanelViewController, public QKCancelOperation {
    Q_OBJECT
public:
    explicit QKPleaseWaitDialog(QObject* parent = nullptr);

    virtual bool showCancel() { return false; }
    virtual void onCancel() {}

    QPushButton* btnCancel() const { return m_btnCancel; }
    void setBtnCancel(QPushButton* button) { m_btnCancel = button; }
    QProgressBar* progress() const { return m_progress; }
    void setProgress(QProgressBar* progress) { m_progress = progress; }

    // KRAPanel
    QSize panelMinSize() override { return QSize(200, 40); }
    bool panelSizeToHost() override { return true; }

    // QKCancelOperation: Escape works like the Cancel button, and only while it is offered.
    bool respondsToCancelOperation() override { return true; }
    void cancelOperation(QObject* sender) override;

public slots:
    // The Cancel button's action.
    void onCancelClicked();

protected:
    // Builds the indicator (running) and the button (hidden unless showCancel()).
    void loadView() override;

private:
    QPointer<QPushButton> m_btnCancel;
    QPointer<QProgressBar> m_progress;
};
