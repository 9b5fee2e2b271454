// The page of the "[Custom FFmpeg settings]" encoder: the ffmpeg arguments as the user types
// them and the output extension. Both go to the host unchanged; the page keeps no copy.
//
// The extension only ever adds to the output's name: one holding "/", "..", a NUL, or made of
// dots alone is refused by pageValidate, with the reason shown beside the field.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include "setup/KREEncoderPage.h"

class KREEncoderPageCustom : public KREEncoderPage {
    Q_OBJECT
public:
    explicit KREEncoderPageCustom(KRAEncoderPageHost* host, QObject* parent = nullptr);
    ~KREEncoderPageCustom() override;

    bool pageValidate() override;

    // Why the extension cannot be used; empty when it can.
    static QString extensionProblem(const QString& extension);

    QLineEdit* commandLineField() const { return m_commandLine; }
    QLineEdit* extensionField() const { return m_extension; }
    QLabel* extensionMessage() const { return m_message; }

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void didEditCommandLine();
    void didEditExtension();
    void onHelp();

    QPointer<QLineEdit> m_commandLine;
    QPointer<QLineEdit> m_extension;
    QPointer<QLabel> m_message;
    QPointer<QPushButton> m_help;
};
