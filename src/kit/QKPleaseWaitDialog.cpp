#include "kit/QKPleaseWaitDialog.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>

QKPleaseWaitDialog::QKPleaseWaitDialog(QObject* parent) : QKPanelViewController(parent) {}

void QKPleaseWaitDialog::loadView()
{
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("QKPleaseWaitDialog"));
    auto* layout = new QHBoxLayout(view);
    layout->setContentsMargins(12, 8, 12, 8);

    auto* progress = new QProgressBar(view);
    progress->setRange(0, 0); // no range: the indicator runs without a known end
    progress->setTextVisible(false);
    layout->addWidget(progress, 1);

    auto* cancel = new QPushButton(tr("Cancel"), view);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QKPleaseWaitDialog::onCancelClicked);
    layout->addWidget(cancel);

    m_progress = progress;
    m_btnCancel = cancel;
    setView(view);
    if (!showCancel())
        cancel->hide();
}

void QKPleaseWaitDialog::onCancelClicked()
{
    onCancel();
}

void QKPleaseWaitDialog::cancelOperation(QObject*)
{
    if (m_btnCancel && !m_btnCancel->isHidden() && m_btnCancel->isEnabled())
        onCancel();
}
