#include "setup/KRAProfileDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "kit/SheetFallback.h"

namespace {

QDialogButtonBox* MakeButtons(QDialog* dialog, QPushButton** ok)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    *ok = buttons->button(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, [dialog] {
        if (!SheetFallback::endSheet(dialog, 0))
            dialog->done(0);
    });
    return buttons;
}

void EndWith(QDialog* dialog, int code)
{
    if (!SheetFallback::endSheet(dialog, code))
        dialog->done(code);
}

} // namespace

// ---- A new user profile ----------------------------------------------------------------------

KRACreateProfile::KRACreateProfile(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Create Profile"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_edit = new QLineEdit(this);
    m_edit->setMinimumWidth(280);
    auto* nameLabel = new QLabel(QStringLiteral("Profile &name:"), this);
    nameLabel->setBuddy(m_edit);
    form->addRow(nameLabel, m_edit);
    m_encoderLabel = new QLabel(this);
    form->addRow(QStringLiteral("Encoder:"), m_encoderLabel);
    layout->addLayout(form);
    QPushButton* ok = nullptr;
    QDialogButtonBox* buttons = MakeButtons(this, &ok);
    connect(ok, &QPushButton::clicked, this, &KRACreateProfile::onOK);
    layout->addWidget(buttons);
}

QString KRACreateProfile::strProfile() const
{
    return m_edit->text();
}

void KRACreateProfile::setStrProfile(const QString& text)
{
    m_edit->setText(text);
    m_edit->selectAll();
}

void KRACreateProfile::setStrEncoderName(const QString& text)
{
    m_encoderName = text;
    m_encoderLabel->setText(text);
}

void KRACreateProfile::onOK()
{
    const QString text = strProfile();
    QString why;
    if (m_namesTaken.contains(text) || m_namesTaken.contains(text.trimmed()))
        why = QStringLiteral("Please choose another profile name.");
    else if (m_validator)
        why = m_validator(text);
    m_lastRefusal = why;
    if (why.isEmpty()) {
        EndWith(this, 1);
        return;
    }
    auto* alert = new QMessageBox(QMessageBox::Warning, windowTitle(), why, QMessageBox::Ok, this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    m_edit->setFocus();
    m_edit->selectAll();
}

// ---- A batch profile's name ------------------------------------------------------------------

KRAChooseProfileName::KRAChooseProfileName(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Profile Name"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Profile &name:"), this);
    m_edit = new QLineEdit(QStringLiteral("<profile name here>"), this);
    m_edit->setMinimumWidth(280);
    m_edit->selectAll();
    label->setBuddy(m_edit);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    QPushButton* ok = nullptr;
    layout->addWidget(MakeButtons(this, &ok));
    m_ok = ok;
    connect(m_ok, &QPushButton::clicked, this, &KRAChooseProfileName::onOK);
    connect(m_edit, &QLineEdit::textChanged, this, &KRAChooseProfileName::refreshOK);
    refreshOK();
}

void KRAChooseProfileName::setInvalidValues(const QStringList& values)
{
    m_invalidValues = values;
    refreshOK();
}

bool KRAChooseProfileName::isValid(const QString& text) const
{
    return !m_invalidValues.contains(text);
}

// The field refuses an invalid text while it is typed: OK stays off until the text is valid.
void KRAChooseProfileName::refreshOK()
{
    if (m_ok)
        m_ok->setEnabled(isValid(m_edit->text()));
}

void KRAChooseProfileName::onOK()
{
    const QString text = m_edit->text();
    if (!isValid(text))
        return;
    m_value = text;
    EndWith(this, 1);
}
