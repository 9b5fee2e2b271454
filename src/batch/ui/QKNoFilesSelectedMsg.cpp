#include "batch/ui/QKNoFilesSelectedMsg.h"

#include "kit/SheetFallback.h"

#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPointer<QKNoFilesSelectedMsg> g_last;
}

void QKNoFilesSelectedMsg::showWarning(QWidget* window, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Batch Converter"), text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

QString QKNoFilesSelectedMsg::missingFilesText(const QStringList& paths)
{
    constexpr qsizetype kListed = 12;
    QString text = paths.size() == 1
                       ? QStringLiteral("A ticked file no longer exists and was left out:")
                       : QStringLiteral("%1 ticked files no longer exist and were left out:").arg(paths.size());
    text += QLatin1Char('\n');
    for (qsizetype i = 0; i < paths.size() && i < kListed; ++i)
        text += QLatin1Char('\n') + paths[i];
    if (paths.size() > kListed)
        text += QStringLiteral("\n... and %1 more.").arg(paths.size() - kListed);
    return text;
}

QKNoFilesSelectedMsg::QKNoFilesSelectedMsg(const QString& text, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("QKNoFilesSelectedMsg"));
    setWindowTitle(QStringLiteral("Batch Converter"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    m_label = new QLabel(
        text.isEmpty() ? QStringLiteral("No %1 files selected for conversion!").arg(QStringLiteral("video")) : text,
        this);
    QFont font = m_label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    m_label->setFont(font);
    m_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_label);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { endOnce(); });
    m_timer->start();
}

QString QKNoFilesSelectedMsg::message() const
{
    return m_label ? m_label->text() : QString();
}

void QKNoFilesSelectedMsg::reject()
{
    endOnce();
}

void QKNoFilesSelectedMsg::endOnce()
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_timer)
        m_timer->stop();
    if (!SheetFallback::endSheet(this, 1))
        done(1);
}

QKNoFilesSelectedMsg* QKNoFilesSelectedMsg::runWithWindow(QWidget* window, const QString& text)
{
    auto* sheet = new QKNoFilesSelectedMsg(text, window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    if (!SheetFallback::beginSheet(sheet, window, [](int64_t) {})) {
        sheet->setWindowModality(Qt::ApplicationModal);
        sheet->open();
    }
    g_last = sheet;
    return sheet;
}

QKNoFilesSelectedMsg* QKNoFilesSelectedMsg::lastShown()
{
    return g_last;
}
