// An encoder settings page: a view controller whose view a host embeds. A page writes its
// defaults to an empty host when its view loads and reads a non-empty one back.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

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

    // The argument text the page's controls stand for now; pages that hold nothing beyond the
    // host's text answer that.
    virtual QString pageArgs() const;
    // The choices of the page that change the codec it writes (the audio codec of a video
    // page, the image format of a contact sheet), in the order the page shows them; none for a
    // page without such a choice. Tools list what each choice writes.
    virtual QStringList codecChoices() const { return {}; }
    // Selects that choice as the user would (index into codecChoices) and writes the page's
    // text to the host. Out-of-range indexes do nothing.
    virtual void selectCodecChoice(int index) { (void)index; }

    // The host; null once the host has told the page it is going.
    KRAEncoderPageHost* host() const { return m_host; }
    void detachHost() { m_host = nullptr; }

private:
    KRAEncoderPageHost* m_host;
};
