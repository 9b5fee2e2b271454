#include "app/KREConfigFFmpeg.h"

#include "app/KREDownloadFFmpeg.h"
#include "kit/SheetFallback.h"
#include "media/QKLocateFFmpeg.h"
#include "media/QKToolRun.h"
#include "platform/XStrQString.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <thread>

// A query's answer reaches the page through this; the page clears it when it goes, so an
// answer that arrives later finds nothing. Read and written on the main thread only.
struct KREConfigFFmpeg::Guard {
    KREConfigFFmpeg* page = nullptr;
};

namespace {

void PostToMain(std::function<void()> block)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

QPlainTextEdit* InfoView(const QString& name)
{
    auto* view = new QPlainTextEdit;
    view->setObjectName(name);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setTabChangesFocus(true);
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(13);
    view->setFont(font);
    return view;
}

QString RunQuery(const XStr& ffmpeg, const wchar_t* option)
{
    XStrList args;
    args.Add(ffmpeg);
    args.Add(option);
    // Standard output only: what the program writes to standard error is not its answer.
    const QKToolResult result = QKToolRun::run(args, QKLocateFFmpeg::kQueryTimeoutMs, 4u << 20);
    return QString::fromUtf8(result.out.data(), static_cast<qsizetype>(result.out.size()));
}

} // namespace

bool KREOpenPanelDelegateFindFFmpeg::shouldEnable(const QString& path, bool isFolder)
{
    return isFolder || QFileInfo(path).fileName() == QLatin1String("ffmpeg");
}

KREConfigFFmpeg::KREConfigFFmpeg() : m_guard(std::make_shared<Guard>())
{
    m_guard->page = this;
    setTitle(QStringLiteral("FFmpeg"));
}

KREConfigFFmpeg::~KREConfigFFmpeg()
{
    m_guard->page = nullptr;
    // The download window hangs on the page's window; without the page its result means
    // nothing, so it goes too (which stops a download still running).
    delete m_download.data();
    delete m_pick.data();
}

KREConfigFFmpeg::Answers KREConfigFFmpeg::queryFFmpeg(const QString& ffmpegPath)
{
    Answers answers;
    if (ffmpegPath.isEmpty())
        return answers;
    const XStr path = XStrFromQString(ffmpegPath);
    answers.version = RunQuery(path, L"-version");
    answers.license = RunQuery(path, L"-L");
    answers.codecs = RunQuery(path, L"-codecs");
    return answers;
}

void KREConfigFFmpeg::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);

    auto* choice = new QGroupBox(QStringLiteral("FFmpeg used for conversions"));
    auto* choiceLayout = new QVBoxLayout(choice);
    m_internalButton = new QRadioButton(QStringLiteral("Use the FFmpeg that comes with the program"));
    m_internalButton->setObjectName(QStringLiteral("useInternal"));
    m_autoButton = new QRadioButton(QStringLiteral("Download FFmpeg from the Marvoni web site"));
    m_autoButton->setObjectName(QStringLiteral("autoInstall"));
    m_customButton = new QRadioButton(QStringLiteral("Use another FFmpeg\u2026"));
    m_customButton->setObjectName(QStringLiteral("useExternal"));
    for (QRadioButton* button : {m_internalButton.data(), m_autoButton.data(), m_customButton.data()})
        choiceLayout->addWidget(button);
    connect(m_internalButton, &QRadioButton::clicked, this, &KREConfigFFmpeg::onUseInternal);
    connect(m_autoButton, &QRadioButton::clicked, this, &KREConfigFFmpeg::onAutoInstall);
    connect(m_customButton, &QRadioButton::clicked, this, &KREConfigFFmpeg::onUseExternal);
    layout->addWidget(choice);

    auto* tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("ffmpegInfo"));
    m_version = InfoView(QStringLiteral("strVersion"));
    m_license = InfoView(QStringLiteral("strLicense"));
    m_codecs = InfoView(QStringLiteral("strCodecs"));
    tabs->addTab(m_version, QStringLiteral("Version"));
    tabs->addTab(m_license, QStringLiteral("Licence"));
    tabs->addTab(m_codecs, QStringLiteral("Codecs"));
    layout->addWidget(tabs, 1);
    setView(view);
}

void KREConfigFFmpeg::viewDidLoad()
{
    refresh();
}

void KREConfigFFmpeg::refreshOptions()
{
    if (QKLocateFFmpeg::haveInstalledFFmpeg()) {
        m_auto = QKLocateFFmpeg::isAutoInstalled();
        m_custom = !m_auto;
        m_internal = false;
    } else {
        m_internal = true;
        m_auto = m_custom = false;
    }
    showChoices();
}

void KREConfigFFmpeg::showChoices()
{
    if (!isViewLoaded())
        return;
    m_internalButton->setChecked(m_internal);
    m_autoButton->setChecked(m_auto);
    m_customButton->setChecked(m_custom);
}

void KREConfigFFmpeg::refresh()
{
    refreshOptions();
    const uint64_t tag = ++m_asyncTag;
    showAnswers(tag,
                {QString::fromLatin1(kPleaseWait), QString::fromLatin1(kPleaseWait), QString::fromLatin1(kPleaseWait)});
    const QString path = XStrToQString(QKLocateFFmpeg::locateFFmpeg());
    std::thread([guard = m_guard, tag, path] {
        const Answers answers = queryFFmpeg(path);
        PostToMain([guard, tag, answers] {
            if (guard->page)
                guard->page->showAnswers(tag, answers);
        });
    }).detach();
}

void KREConfigFFmpeg::showAnswers(uint64_t tag, const Answers& answers)
{
    // Only the latest query's answer counts: an older, slower one is dropped.
    if (tag != m_asyncTag || !isViewLoaded())
        return;
    m_version->setPlainText(answers.version);
    m_license->setPlainText(answers.license);
    m_codecs->setPlainText(answers.codecs);
}

QString KREConfigFFmpeg::strVersion() const
{
    return m_version ? m_version->toPlainText() : QString();
}

QString KREConfigFFmpeg::strLicense() const
{
    return m_license ? m_license->toPlainText() : QString();
}

QString KREConfigFFmpeg::strCodecs() const
{
    return m_codecs ? m_codecs->toPlainText() : QString();
}

void KREConfigFFmpeg::onUseInternal()
{
    QKLocateFFmpeg::revertToInternal();
    refresh();
}

void KREConfigFFmpeg::onAutoInstall()
{
    if (m_openInProgress) {
        showChoices();
        return;
    }
    m_openInProgress = true;
    auto* download = new KREDownloadFFmpeg;
    m_download = download;
    if (!SheetFallback::beginSheet(download, view(), [guard = m_guard](int64_t code) {
            if (guard->page)
                guard->page->downloadEnded(static_cast<int>(code));
        })) {
        delete download;
        m_openInProgress = false;
        refreshOptions();
        return;
    }
    download->start();
}

void KREConfigFFmpeg::downloadEnded(int code)
{
    KREDownloadFFmpeg* download = m_download;
    const QString reason = download ? XStrToQString(download->result().error) : QString();
    if (download)
        download->deleteLater();
    m_download = nullptr;
    m_openInProgress = false;
    if (code == 1) {
        refresh();
        return;
    }
    refreshOptions();
    alert(QString::fromLatin1(kDownloadFailed), reason);
}

void KREConfigFFmpeg::onUseExternal()
{
    if (m_openInProgress) {
        showChoices();
        return;
    }
    m_openInProgress = true;
    auto* pick = new QFileDialog(view(), QStringLiteral("Choose the ffmpeg program"));
    pick->setObjectName(QStringLiteral("pickFFmpeg"));
    pick->setFileMode(QFileDialog::ExistingFile);
    pick->setNameFilter(QStringLiteral("FFmpeg (ffmpeg)"));
    pick->setAttribute(Qt::WA_DeleteOnClose);
    pick->setWindowModality(Qt::WindowModal);
    m_pick = pick;
    connect(pick, &QFileDialog::finished, this, [this, pick](int result) {
        const QString chosen = result == QDialog::Accepted ? pick->selectedFiles().value(0) : QString();
        m_openInProgress = false;
        m_pick = nullptr;
        if (chosen.isEmpty())
            refreshOptions();
        else
            pickedFFmpeg(chosen);
    });
    pick->open();
}

void KREConfigFFmpeg::pickedFFmpeg(const QString& path)
{
    if (!KREOpenPanelDelegateFindFFmpeg::shouldEnable(path, QFileInfo(path).isDir())) {
        refreshOptions();
        alert(QStringLiteral("Only a program named \u201cffmpeg\u201d can be chosen."), path);
        return;
    }
    XStr error;
    if (!QKLocateFFmpeg::installFrom(XStrFromQString(path), false, &error))
        alert(QStringLiteral("This FFmpeg could not be used."), XStrToQString(error));
    refresh();
}

void KREConfigFFmpeg::alert(const QString& text, const QString& detail)
{
    QWidget* parent = isViewLoaded() ? view()->window() : nullptr;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("FFmpeg"), text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("ffmpegAlert"));
    box->setInformativeText(detail);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}
