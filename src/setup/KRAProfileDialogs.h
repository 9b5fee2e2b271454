// The two small dialogs that name profiles: KRACreateProfile names a new user profile in the
// converter setup, KRAChooseProfileName names a batch profile. Both are shown window-modal
// and end with 1 (OK) or 0 (Cancel, Escape).
#pragma once

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
    bool copyCurrent() const { return m_copyCurrent; }
    void setCopyCurrent(bool on) { m_copyCurrent = on; }
    bool saveSelection() const { return m_saveSelection; }
    void setSaveSelection(bool on) { m_saveSelection = on; }

    bool isValid(const QString& text) const;
    // A valid text becomes value and the dialog ends with 1.
    void onOK();
    QLineEdit* edit() const { return m_edit; }
    QPushButton* buttonOK() const { return m_ok; }

private:
    void refreshOK();

    QString m_value;
    QStringList m_invalidValues;
    bool m_copyCurrent = false;
    bool m_saveSelection = true;
    QPointer<QLineEdit> m_edit;
    QPointer<QPushButton> m_ok;
};
