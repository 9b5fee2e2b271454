// The encoder catalogue in menus and pickers: the widgets the encoder lists fill, kept apart
// from the job model's catalogue so that the job model and the engine need no widgets.
#pragma once

#include <QSet>
#include <QString>

#include "job/QKEncoderDesc.h"

class QAction;
class QComboBox;
class QObject;

class QKEncoderMenus {
public:
    // A menu entry: title = name, icon = the encoder's combo-box logo, data = the description
    // (which must be held by a QKEncoderDescRef).
    static QAction* makeMenuItem(const QKEncoderDesc& encoder, QObject* parent);
    // Fills the picker (cleared first) with the encoders whose names are not suppressed: the
    // multi-encoder and a separator, the ordinary encoders, then a separator and the
    // special-purpose ones; each group sorted by name with A-Z folded. Item data is the
    // description. Nothing happens for a null picker.
    static void setupEncoderPicker(QComboBox* picker, const QSet<QString>& suppress);
};
