// An encoder settings page: a view controller whose view a host embeds. A page writes its
// defaults to an empty host when its view loads and reads a non-empty one back.
#pragma once

#include <QPointer>

#include "kit/QKViewController.h"

class KRAEncoderPageHost;

class KREEncoderPage : public QKViewController {
    Q_OBJECT
public:
    explicit KREEncoderPage(KRAEncoderPageHost* host, QObject* parent = nullptr);
    ~KREEncoderPage() override;

    QWidget* pageView() { return view(); }
    // Asked before the host accepts: false keeps the host open (the page has put the focus
    // where the user must act). Pages without checks accept.
    virtual bool pageValidate() { return true; }
    // The host is about to close with the page's settings accepted.
    virtual void pageWillClose() {}

    // The host; null once the host has told the page it is going.
    KRAEncoderPageHost* host() const { return m_host; }
    void detachHost() { m_host = nullptr; }

private:
    KRAEncoderPageHost* m_host;
};
