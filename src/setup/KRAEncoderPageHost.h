// What an encoder page edits: the argument text of one encoder, held by its host (the
// converter setup, the encoder settings pop-up, a multi-encoder entry's dialog). Pages keep no
// settings of their own; they read the host's text into their controls and write it back.
#pragma once

#include <QString>

#include "job/QKEncoderArgs.h"

class QWidget;

class KRAEncoderPageHost {
public:
    virtual ~KRAEncoderPageHost();

    // The argument text (encoderArgsV2().strArgs).
    virtual QString encoderArgs() const = 0;
    virtual void setEncoderArgs(const QString& args) = 0;
    // The whole value: pages with an extension of their own set customFormatExt here.
    virtual QKEncoderArgs& encoderArgsV2() = 0;
    // Whether the output may go into the source's own folder.
    virtual bool encoderAllowSameFolder() const { return false; }
    // The window sheets of the page open on; null: none (the sheet opens as a window).
    virtual QWidget* pageHostWindow() const { return nullptr; }
};
