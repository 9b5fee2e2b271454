#include "setup/KREEncoderPage.h"

#include "setup/KRAEncoderPageHost.h"

KRAEncoderPageHost::~KRAEncoderPageHost() = default;

KREEncoderPage::KREEncoderPage(KRAEncoderPageHost* host, QObject* parent) : QKViewController(parent), m_host(host) {}

KREEncoderPage::~KREEncoderPage() = default;

QString KREEncoderPage::pageArgs() const
{
    return m_host ? m_host->encoderArgs() : QString();
}
