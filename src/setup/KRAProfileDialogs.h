// The two small dialogs that name profiles: KRACreateProfile names a new user profile in the
// converter setup, KRAChooseProfileName names a batch profile. Both are shown window-modal
// and end with 1 (OK) or 0 (Cancel, Escape).
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <functional>

class QLabel;

class KRACreateProfile : public QDialog {
    Q_OBJECT
public:
    explicit KRACreateProfile(QWidget* parent = nullptr);

    QString strProfile() const;
    void setStrProfile(const QString& text);
    QString strEncoderName() const { return m_encoderName; }
    void setStrEncoderName(const QString& text);
    QStringList lstNamesTaken() const { return m_namesTaken; }
    void setLstNamesTaken(const QStringList& names) { m_namesTaken = names; }
    // Further checks of the typed text (empty: fine); the converter setup refuses texts the
    // store could not keep.
    void setValidator(std::function<QString(const QString&)> validator) { m_validator = std::move(validator); }

    // A taken or refused name shows why and keeps the dialog open; else it ends with 1.
    void onOK();
    // The message shown for the last refused OK (tests).
    QString lastRefusal() const { return m_lastRefusal; }
    QLineEdit* edit() const { return m_edit; }

private:
    QString m_encoderName;
    QStringList m_namesTaken;
    std::function<QString(const QString&)> m_validator;
    QString m_lastRefusal;
    QPointer<QLineEdit> m_edit;
    QPointer<QLabel> m_encoderLabel;
};

class KRAChooseProfileName : public QDialog {
    Q_OBJECT
public:
    explicit KRAChooseProfileName(QWidget* parent = nullptr);

    QString value() const { return m_value; }
    QStringList invalidValues() const { return m_invalidValues; }
    void setInvalidValues(const QStringList& values);
    // Further checks of the typed text (empty: fine); the batch converter refuses names its
    // profile files could not keep.
    void setValidator(std::function<QString(const QString&)> validator);
    // Start the new profile from a copy of the current one (its converter settings too).
    bool copyCurrent() const;
    void setCopyCurrent(bool on);
    // Keep the folder tree's ticks in the new profile.
    bool saveSelection() const;
    void setSaveSelection(bool on);

    bool isValid(const QString& text) const;
    // Why the text is refused; empty when it is valid.
    QString refusal(const QString& text) const;
    // A valid text becomes value and the dialog ends with 1.
    void onOK();
    QLineEdit* edit() const { return m_edit; }
    QPushButton* buttonOK() const { return m_ok; }
    QCheckBox* copyCurrentBox() const { return m_copyBox; }
    QCheckBox* saveSelectionBox() const { return m_selectionBox; }
    // The line that says why the typed name is refused (hidden while it is fine).
    QLabel* refusalLabel() const { return m_refusal; }

private:
    void refreshOK();

    QString m_value;
    QStringList m_invalidValues;
    std::function<QString(const QString&)> m_validator;
    QPointer<QLineEdit> m_edit;
    QPointer<QPushButton> m_ok;
    QPointer<QLabel> m_refusal;
    QPointer<QCheckBox> m_copyBox;
    QPointer<QCheckBox> m_selectionBox;
};
