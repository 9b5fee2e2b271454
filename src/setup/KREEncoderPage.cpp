#include "setup/KREEncoderPage.h"

#include "setup/KRAEncoderPageHost.h"

KRAEncoderPageHost::~KRAEncoderPageHost() = default;

KREEncoderPage::KREEncoderPage(KRAEncoderPageHost* host, QObject* parent) : QKViewController(parent), m_host(host) {}

KREEncoderPage::~KREEncoderPage() = default;
