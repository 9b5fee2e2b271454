#include "setup/KREDSPPagesAction.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>

#include <algorithm>

#include "job/QKElemValueList.h"
#include "kit/SheetFallback.h"

// ---- [Custom] --------------------------------------------------------------------------------

void KREDSPPageCustom::setText(const QString& text)
{
    m_text = text;
    settingsChanged();
}

void KREDSPPageCustom::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Any ffmpeg options, added to the command line as typed, for example "
                               "-vf \"eq=gamma=1.2\"."));
    note->setWordWrap(true);
    form->addRow(note);
    m_field = addText(form, tr("&Options:"), &m_text);
    m_field->setPlaceholderText(QStringLiteral("-vf \"eq=gamma=1.2\""));
    m_help = new QPushButton(tr("Filter &Help"));
    m_help->setToolTip(tr("Opens ffmpeg's filter documentation in the web browser"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_help);
    form->addRow(row);
    connect(m_help, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("https://ffmpeg.org/ffmpeg-filters.html"))); });
}

// ---- Multi-CPU Force -------------------------------------------------------------------------

QString KREDSPPageMultiCPUForce::dspArgs() const
{
    QKElemValueList list;
    if (m_limit)
        list.addElemInt(QStringLiteral("threads"), std::max(1, m_threads));
    list.addElemInt(QStringLiteral("marvoni_thread_count"), std::max(1, m_encoders));
    return list.mergeToString_alternate();
}

void KREDSPPageMultiCPUForce::setForce(int encoders, bool limit, int threads)
{
    m_encoders = std::max(1, encoders);
    m_limit = limit;
    m_threads = std::max(1, threads);
    settingsChanged();
}

void KREDSPPageMultiCPUForce::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    m_encoders = std::max(1, list.findIntValue(QStringLiteral("marvoni_thread_count"), 1));
    m_limit = list.containsElem(QStringLiteral("threads"));
    m_threads = m_limit ? std::max(1, list.findIntValue(QStringLiteral("threads"), 1)) : 1;
}

void KREDSPPageMultiCPUForce::buildForm(QFormLayout* form)
{
    m_encodersBox = addInt(form, tr("&Simultaneous encoders:"), &m_encoders, 1, 64);
    QCheckBox* limit = addFlag(form, tr("&Limit the threads of each encoder"), &m_limit);
    QSpinBox* threads = addInt(form, tr("&Threads per encoder:"), &m_threads, 1, 64);
    addRefresher([threads, this] { threads->setEnabled(m_limit); });
    connect(limit, &QCheckBox::toggled, threads, &QSpinBox::setEnabled);
}

// ---- Delete Source File ----------------------------------------------------------------------

QString KREDSPPageDeleteSourceFile::dspArgs() const
{
    QString text = m_recycle ? QStringLiteral("-DELSOURCERECYCLE") : QStringLiteral("-DELSOURCEPERM");
    if (m_removeEmpty)
        text += QStringLiteral(" -DELSOURCEREMOVEEMPTY");
    return text;
}

void KREDSPPageDeleteSourceFile::setFlags(bool recycle, bool removeEmptyFolders)
{
    m_recycle = recycle;
    m_removeEmpty = removeEmptyFolders;
    settingsChanged();
}

void KREDSPPageDeleteSourceFile::readArgs(const QString& args)
{
    const QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    m_recycle = words.contains(QStringLiteral("-DELSOURCERECYCLE"));
    m_removeEmpty = words.contains(QStringLiteral("-DELSOURCEREMOVEEMPTY"));
}

void KREDSPPageDeleteSourceFile::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("After each successful conversion the source file is deleted. A failed "
                               "conversion or an empty output never deletes it."));
    note->setWordWrap(true);
    form->addRow(note);
    m_recycleBox = addFlag(form, tr("&Move to the trash instead of deleting for good"), &m_recycle);
    addFlag(form, tr("&Remove folders left empty"), &m_removeEmpty);
}

// ---- Preserve Source Attributes --------------------------------------------------------------

KREDSPPagePreserveAttribs::KREDSPPagePreserveAttribs(QObject* parent)
    : KREDSPPageFixed(QStringLiteral("Preserve Source Attributes"), QString(),
                      tr("Gives each output file the modification and access times of its source."), parent)
{
}

// ---- Play Sound After Conversion -------------------------------------------------------------

QString KREDSPPagePlaySound::dspArgs() const
{
    QKElemValueList list;
    if (!m_success.isEmpty())
        list.addElem(QStringLiteral("playsound"), m_success);
    if (!m_failure.isEmpty())
        list.addElem(QStringLiteral("playsounderr"), m_failure);
    return list.mergeToString_alternate();
}

void KREDSPPagePlaySound::setSounds(const QString& success, const QString& failure)
{
    m_success = success;
    m_failure = failure;
    settingsChanged();
}

void KREDSPPagePlaySound::readArgs(const QString& args)
{
    const QKElemValueList list(args);
    m_success = list.findValue(QStringLiteral("playsound"), QString());
    m_failure = list.findValue(QStringLiteral("playsounderr"), QString());
}

QWidget* KREDSPPagePlaySound::chooseSound(int slot)
{
    QString* path = slot == 0 ? &m_success : &m_failure;
    auto* dialog =
        new QFileDialog(sheetParent(), slot == 0 ? tr("Sound after a conversion") : tr("Sound after a failure"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setMimeTypeFilters({QStringLiteral("audio/*")});
    if (!path->isEmpty())
        dialog->setDirectory(QFileInfo(*path).absolutePath());
    const QPointer<KREDSPPagePlaySound> self(this);
    SheetFallback::beginFileSheet(dialog, sheetParent(), [self, path](const QString& chosen) {
        if (!self)
            return;
        *path = chosen;
        self->settingsChanged();
    });
    return dialog;
}

void KREDSPPagePlaySound::buildForm(QFormLayout* form)
{
    auto* note = new QLabel(tr("Plays a sound after each file: one when it converted, another when it failed. "
                               "Leave a field empty for silence."));
    note->setWordWrap(true);
    form->addRow(note);
    const QString labels[2] = {tr("&Success:"), tr("&Failure:")};
    QString* paths[2] = {&m_success, &m_failure};
    for (int slot = 0; slot < 2; ++slot) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* field = new QLineEdit;
        field->setMinimumWidth(260);
        field->setPlaceholderText(tr("No sound"));
        auto* choose = new QPushButton(tr("Choose…"));
        auto* clear = new QPushButton(tr("Clear"));
        layout->addWidget(field, 1);
        layout->addWidget(choose);
        layout->addWidget(clear);
        auto* label = new QLabel(labels[slot]);
        label->setBuddy(field);
        form->addRow(label, row);
        QString* path = paths[slot];
        addRefresher([field, path] {
            if (field->text() != *path)
                field->setText(*path);
        });
        connect(field, &QLineEdit::textEdited, this, [this, path](const QString& text) {
            *path = text;
            emit changed();
        });
        connect(choose, &QPushButton::clicked, this, [this, slot] { chooseSound(slot); });
        connect(clear, &QPushButton::clicked, this, [this, path] {
            path->clear();
            settingsChanged();
        });
    }
}
