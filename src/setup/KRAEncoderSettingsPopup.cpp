#include "setup/KRAEncoderSettingsPopup.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "kit/SheetFallback.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPage.h"

KRAEncoderSettingsPopup::KRAEncoderSettingsPopup(const QString& encoderName, const QKEncoderArgs& args, QWidget* parent)
    : QDialog(parent), m_encoderName(encoderName), m_args(args)
{
    setWindowTitle(QStringLiteral("%1 Settings").arg(encoderName));
    auto* layout = new QVBoxLayout(this);
    m_pageArea = new QWidget;
    auto* areaLayout = new QVBoxLayout(m_pageArea);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pageArea, 1);

    m_page = KRAEncoderPageIndex::createFor(encoderName, this);
    if (m_page) {
        areaLayout->addWidget(m_page->pageView());
    } else {
        auto* none = new QLabel(QStringLiteral("This encoder has no settings."));
        none->setAlignment(Qt::AlignCenter);
        areaLayout->addWidget(none);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { onOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { reject(); });
}

KRAEncoderSettingsPopup::~KRAEncoderSettingsPopup()
{
    if (m_page) {
        m_page->detachHost();
        // The page's view is a child of this dialog's widgets; the page must not outlive them
        // holding a dangling view.
        m_page.reset();
    }
}

void KRAEncoderSettingsPopup::onOK()
{
    if (m_done)
        return;
    // Ends a field edit so that text typed without Return reaches the page.
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    if (m_page && !m_page->pageValidate())
        return;
    if (m_page)
        m_page->pageWillClose();
    end(1);
}

void KRAEncoderSettingsPopup::reject()
{
    end(0);
}

void KRAEncoderSettingsPopup::end(int code)
{
    if (m_done)
        return;
    m_done = true;
    if (!SheetFallback::endSheet(this, code))
        done(code);
}
