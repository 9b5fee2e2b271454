// The application's images by name: logos and icons shipped in the resources folder, loaded
// once and shared by every user. An image handed out is a value: a user that scales or paints
// on its copy leaves the shared one unchanged.
#pragma once

#include <QImage>
#include <QString>

class QKNamedImages {
public:
    // The image registered under the name, else the first readable file of the resources folder
    // (XGetResourcesFolder) named NAME, NAME.png, NAME.jpg or NAME.svg. A null image when there
    // is none or the name is empty or holds a "/" component of ".."; the answer is cached.
    static QImage imageNamed(const QString& name);
    // Makes the image the one of that name (a null image forgets the name).
    static void registerImage(const QString& name, const QImage& image);
};
