// Where help comes from. The maker's help pages are on its web server, whose address this
// build does not know: it comes from the environment variable MARVONI_WEB_BASE (http or
// https), as for the version check and the ffmpeg download. Without it, help is the README
// installed with the program; when nothing can be opened, a message says where help is.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

// The page at path (beginning with "/") on the maker's server; invalid without a usable
// MARVONI_WEB_BASE.
QUrl KitMakerHelpURL(const QString& path);
// The README that comes with the program (PREFIX/share/doc/marvoni-video/README.md; in the
// build tree the source tree's); invalid when there is none.
QUrl KitLocalHelpURL();
// The maker's page at path, else the README; invalid when there is neither.
QUrl KitHelpURL(const QString& path);
// Opens the help address; when there is none or nothing opens it, a message over parent's
// window says where help is.
void KitOpenHelp(const QUrl& url, QWidget* parent);
