#include "setup/KREEncoderPageCustom.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include "setup/KRAEncoderPageHost.h"

KREEncoderPageCustom::KREEncoderPageCustom(KRAEncoderPageHost* host, QObject* parent) : KREEncoderPage(host, parent)
{
    setTitle(QStringLiteral("Custom FFmpeg settings"));
}

KREEncoderPageCustom::~KREEncoderPageCustom() = default;

QString KREEncoderPageCustom::extensionProblem(const QString& extension)
{
    if (extension.isEmpty())
        return QStringLiteral("Enter the extension of the output files, e.g. .mp4");
    if (extension.contains(QLatin1Char('/')))
        return QStringLiteral("The extension must not contain \"/\".");
    if (extension.contains(QLatin1String("..")))
        return QStringLiteral("The extension must not contain \"..\".");
    if (extension.contains(QChar(0)))
        return QStringLiteral("The extension must not contain a NUL character.");
    if (extension.count(QLatin1Char('.')) == extension.size())
        return QStringLiteral("The extension needs more than dots.");
    return QString();
}

void KREEncoderPageCustom::loadView()
{
    auto* view = new QWidget;
    auto* form = new QFormLayout(view);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    m_commandLine = new QLineEdit;
    m_commandLine->setPlaceholderText(QStringLiteral("-c:v libx264 -crf 23 -c:a aac"));
    m_commandLine->setMinimumWidth(360);
    m_commandLine->setToolTip(QStringLiteral("The ffmpeg arguments between the input and the output file"));

    m_extension = new QLineEdit;
    m_extension->setPlaceholderText(QStringLiteral(".mp4"));
    m_extension->setMaximumWidth(120);
    m_message = new QLabel;
    m_message->setStyleSheet(QStringLiteral("color: #c01c28;"));
    m_message->setWordWrap(true);
    m_message->hide();
    auto* extensionRow = new QHBoxLayout;
    extensionRow->addWidget(m_extension);
    extensionRow->addWidget(m_message, 1);

    m_help = new QPushButton(QStringLiteral("ffmpeg &Help"));
    m_help->setToolTip(QStringLiteral("Opens the ffmpeg documentation in the web browser"));
    auto* helpRow = new QHBoxLayout;
    helpRow->addStretch(1);
    helpRow->addWidget(m_help);

    form->addRow(QStringLiteral("&Arguments:"), m_commandLine);
    auto* extensionLabel = new QLabel(QStringLiteral("E&xtension:"));
    extensionLabel->setBuddy(m_extension);
    form->addRow(extensionLabel, extensionRow);
    form->addRow(helpRow);

    connect(m_commandLine, &QLineEdit::editingFinished, this, [this] { didEditCommandLine(); });
    connect(m_extension, &QLineEdit::editingFinished, this, [this] { didEditExtension(); });
    // The message goes once the user changes what it is about.
    connect(m_extension, &QLineEdit::textEdited, m_message, &QLabel::hide);
    connect(m_help, &QPushButton::clicked, this, [this] { onHelp(); });
    setView(view);
}

void KREEncoderPageCustom::viewDidLoad()
{
    if (!host())
        return;
    m_commandLine->setText(host()->encoderArgs());
    m_extension->setText(host()->encoderArgsV2().customFormatExt.value_or(QString()));
}

void KREEncoderPageCustom::didEditCommandLine()
{
    if (host() && m_commandLine)
        host()->setEncoderArgs(m_commandLine->text());
}

void KREEncoderPageCustom::didEditExtension()
{
    if (host() && m_extension)
        host()->encoderArgsV2().customFormatExt = m_extension->text();
}

bool KREEncoderPageCustom::pageValidate()
{
    if (!m_extension)
        view();
    // What was typed without Return counts as well.
    didEditCommandLine();
    didEditExtension();
    const QString problem = extensionProblem(m_extension->text());
    if (problem.isEmpty()) {
        m_message->hide();
        return true;
    }
    // An empty field speaks for itself; a refused one says why.
    m_message->setText(problem);
    m_message->setVisible(!m_extension->text().isEmpty());
    m_extension->setFocus(Qt::OtherFocusReason);
    m_extension->selectAll();
    return false;
}

void KREEncoderPageCustom::onHelp()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("https://ffmpeg.org/ffmpeg.html")));
}
