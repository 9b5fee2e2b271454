#include "setup/KRAProfileDialogs.h"

#include <QCheckBox>
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
    m_edit->setMinimumWidth(320);
    m_edit->selectAll();
    label->setBuddy(m_edit);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    m_refusal = new QLabel(this);
    m_refusal->setWordWrap(true);
    m_refusal->setObjectName(QStringLiteral("refusal"));
    m_refusal->hide();
    layout->addWidget(m_refusal);
    layout->addSpacing(6);
    m_copyBox = new QCheckBox(QStringLiteral("&Copy the current profile"), this);
    m_copyBox->setToolTip(QStringLiteral("The new profile starts with the converter settings of the profile in use; "
                                         "otherwise with the default settings."));
    m_selectionBox = new QCheckBox(QStringLiteral("&Keep the ticks of the folder tree in the profile"), this);
    m_selectionBox->setToolTip(QStringLiteral("Otherwise the profile keeps its filters and converter settings only, "
                                              "and choosing it leaves the ticks as they are."));
    m_selectionBox->setChecked(true);
    layout->addWidget(m_copyBox);
    layout->addWidget(m_selectionBox);
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

void KRAChooseProfileName::setValidator(std::function<QString(const QString&)> validator)
{
    m_validator = std::move(validator);
    refreshOK();
}

bool KRAChooseProfileName::copyCurrent() const
{
    return m_copyBox->isChecked();
}

void KRAChooseProfileName::setCopyCurrent(bool on)
{
    m_copyBox->setChecked(on);
}

bool KRAChooseProfileName::saveSelection() const
{
    return m_selectionBox->isChecked();
}

void KRAChooseProfileName::setSaveSelection(bool on)
{
    m_selectionBox->setChecked(on);
}

QString KRAChooseProfileName::refusal(const QString& text) const
{
    if (m_invalidValues.contains(text))
        return QStringLiteral("Please choose another profile name: \"%1\" is taken.").arg(text);
    return m_validator ? m_validator(text) : QString();
}

bool KRAChooseProfileName::isValid(const QString& text) const
{
    return refusal(text).isEmpty();
}

// The field refuses an invalid text while it is typed: OK stays off, and the line below the
// field says why.
void KRAChooseProfileName::refreshOK()
{
    const QString why = refusal(m_edit->text());
    if (m_ok)
        m_ok->setEnabled(why.isEmpty());
    if (m_refusal) {
        m_refusal->setText(why);
        m_refusal->setVisible(!why.isEmpty());
    }
}

void KRAChooseProfileName::onOK()
{
    const QString text = m_edit->text();
    if (!isValid(text))
        return;
    m_value = text;
    EndWith(this, 1);
}
