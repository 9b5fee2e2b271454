// The settings an encoder page produced: its argument string, the output extension chosen
// on the page (none: the encoder's own) and the page's own state.
#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

class QKEncoderArgs {
public:
    QString strArgs;                         // empty after construction
    std::optional<QString> customFormatExt;  // none: not chosen on the page
    std::optional<QVariantMap> frontendData; // none: the page keeps no state

    void copyFrom(const QKEncoderArgs& other) { *this = other; }
    QKEncoderArgs copy() const { return *this; }
};
