// The encoders' logos for menus, tables and the progress dialog, by encoder name. The pictures
// are the program's own images (resources folder), looked up through the named images.
#pragma once

#include <QImage>
#include <QString>

class QComboBox;

class KRACodecLogos {
public:
    // The image name of the encoder's logo; empty for a name the table does not know.
    static QString logoNameOfCodec(const QString& encoderName);
    // The square logo; a null image when there is none.
    static QImage squareLogoOfCodec(const QString& encoderName);
    // A copy of the square logo 16 by 16; a null image when there is none.
    static QImage comboBoxLogoOfCodec(const QString& encoderName);
    // Gives every entry of the picker that has no icon yet the logo of its text.
    static void addLogosToPicker(QComboBox* picker);
    // Makes these logos the ones the encoder menus show (call once at start-up).
    static void installAsEncoderMenuLogos();
};
