// A small window-modal dialog that hosts one encoder page on its own, outside the converter
// setup (the preview generator configures its nested encoder with it). It is the page's host:
// the page reads and writes the dialog's QKEncoderArgs, which the caller takes once the dialog
// ended with 1 (OK). Ending happens once: a second OK, Escape or close does nothing.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>

#include "job/QKEncoderArgs.h"
#include "setup/KRAEncoderPageHost.h"

class KREEncoderPage;

class KRAEncoderSettingsPopup : public QDialog, public KRAEncoderPageHost {
    Q_OBJECT
public:
    // The page of the encoder opens on args (its defaults go there when args are empty).
    KRAEncoderSettingsPopup(const QString& encoderName, const QKEncoderArgs& args, QWidget* parent = nullptr);
    ~KRAEncoderSettingsPopup() override;

    QString encoderName() const { return m_encoderName; }
    KREEncoderPage* encoderPage() const { return m_page.get(); }
    bool isDone() const { return m_done; }

    QString encoderArgs() const override { return m_args.strArgs; }
    void setEncoderArgs(const QString& args) override { m_args.strArgs = args; }
    QKEncoderArgs& encoderArgsV2() override { return m_args; }
    void setEncoderArgsV2(const QKEncoderArgs& args) { m_args = args; }
    bool encoderAllowSameFolder() const override { return false; }
    QWidget* pageHostWindow() const override { return const_cast<KRAEncoderSettingsPopup*>(this); }

    void onOK();
    // Escape and the window's close button.
    void reject() override;
    // Ends the dialog with the code; only the first call counts.
    void end(int code);

private:
    QString m_encoderName;
    QKEncoderArgs m_args;
    bool m_done = false;
    QPointer<QWidget> m_pageArea;
    std::unique_ptr<KREEncoderPage> m_page; // after m_args: goes first
};
