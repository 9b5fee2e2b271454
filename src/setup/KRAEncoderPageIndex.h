// Which settings page edits which encoder, by the encoder's display name.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class KRAEncoderPageHost;
class KREEncoderPage;

class KRAEncoderPageIndex {
public:
    // A new page for the encoder, editing the host's arguments; null for a name no page
    // edits (the encoders without settings, unknown names).
    static std::unique_ptr<KREEncoderPage> createFor(const QString& encoderName, KRAEncoderPageHost* host);
    // Every name createFor answers, in the index's order.
    static QStringList pageNames();
};
