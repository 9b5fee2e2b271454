// The pages of the effects that describe no filter: "[Custom]" passes the text the user
// types; "Multi-CPU Force" sets how many files a batch converts at once; "Delete Source
// File", "Preserve Source Attributes" and "Play Sound After Conversion" are actions after each
// conversion. The batch and the actions after a conversion read what they write.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QString>

#include "setup/KRADSPPage.h"

class KREDSPPageCustom : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageCustom(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("[Custom]"), parent) {}
    QString dspArgs() const override { return m_text; }
    void setText(const QString& text);
    QLineEdit* textField() const { return m_field; }
    QPushButton* helpButton() const { return m_help; }

protected:
    void readArgs(const QString& args) override { m_text = args; }
    void buildForm(QFormLayout* form) override;

private:
    QString m_text;
    QPointer<QLineEdit> m_field;
    QPointer<QPushButton> m_help;
};

class KREDSPPageMultiCPUForce : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageMultiCPUForce(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Multi-CPU Force"), parent)
    {
    }
    QString dspArgs() const override;
    int encoders() const { return m_encoders; }
    bool limitThreads() const { return m_limit; }
    int threads() const { return m_threads; }
    // Counts below 1 become 1: no slot would hold a batch forever.
    void setForce(int encoders, bool limit, int threads);
    QSpinBox* encodersBox() const { return m_encodersBox; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_encoders = 1;
    bool m_limit = false;
    int m_threads = 1;
    QPointer<QSpinBox> m_encodersBox;
};

class KREDSPPageDeleteSourceFile : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageDeleteSourceFile(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Delete Source File"), parent)
    {
    }
    QString dspArgs() const override;
    bool recycle() const { return m_recycle; }
    bool removeEmptyFolders() const { return m_removeEmpty; }
    void setFlags(bool recycle, bool removeEmptyFolders);
    QCheckBox* recycleBox() const { return m_recycleBox; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    bool m_recycle = false;
    bool m_removeEmpty = false;
    QPointer<QCheckBox> m_recycleBox;
};

class KREDSPPagePreserveAttribs : public KREDSPPageFixed {
    Q_OBJECT
public:
    explicit KREDSPPagePreserveAttribs(QObject* parent = nullptr);
};

class KREDSPPagePlaySound : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPagePlaySound(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Play Sound After Conversion"), parent)
    {
    }
    QString dspArgs() const override;
    QString successSound() const { return m_success; }
    QString failureSound() const { return m_failure; }
    void setSounds(const QString& success, const QString& failure);
    // Opens the file dialog of the slot (0 success, 1 failure); returns it for tests.
    QWidget* chooseSound(int slot);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    QString m_success;
    QString m_failure;
};
