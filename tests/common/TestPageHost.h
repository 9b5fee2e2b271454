// An encoder-page host for tests and tools: it holds the value a page edits and counts what
// the page sends, so a test can see both the text and how often it was written.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "setup/KRAEncoderPageHost.h"

class TestPageHost : public KRAEncoderPageHost {
public:
    explicit TestPageHost(const QString& args = QString()) { m_args.strArgs = args; }

    QString encoderArgs() const override { return m_args.strArgs; }
    void setEncoderArgs(const QString& args) override
    {
        m_args.strArgs = args;
        sent.append(args);
    }
    QKEncoderArgs& encoderArgsV2() override { return m_args; }
    bool encoderAllowSameFolder() const override { return allowSameFolder; }
    QWidget* pageHostWindow() const override { return window; }

    QStringList sent; // every text the page sent, in order
    bool allowSameFolder = false;
    QPointer<QWidget> window;

private:
    QKEncoderArgs m_args;
};
