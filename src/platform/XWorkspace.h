// The desktop's workspace: open a file with its default application, reveal files in the
// file manager, describe a file's type; and the bridges between XStr paths and Qt's URLs.
// Needs a QGuiApplication for opening and revealing.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "xclass/XStr.h"

// "file://" URL of a path, each byte that needs it percent-encoded (lossless for any
// name), and back. XPathFromFileURL gives empty text for a URL that is not a local file.
QUrl XFileURL(const XStr& path);
XStr XPathFromFileURL(const QUrl& url);

// A path as Qt's own file dialogs and lists give it back: names that are not UTF-8 arrive
// there with U+FFFD in place of their odd bytes. Each such name is looked up in its folder
// and replaced by the one name on the disk that reads the same; a name that matches none or
// several stays as it came. Other paths are converted as they are.
XStr XResolveDisplayPath(const QString& path);
// The file URLs of a "text/uri-list" as a drag carries it, read from the raw bytes so that
// names that are not UTF-8 survive; other schemes and comment lines are left out.
QList<QUrl> XFileURLsFromUriList(const QByteArray& uriList);

// The URL as it is (a null URL stays null).
QUrl checkedURL(const QUrl& url);

// Opens the file with its default application (QDesktopServices). False when the file does
// not exist or nothing could open it.
bool XOpenWithWorkspace(const XStr& path);

// Shows the files selected in the file manager (org.freedesktop.FileManager1.ShowItems);
// where no file manager answers, opens the folder of the first one. False when nothing
// could be shown.
bool XRevealInFileManager(const QList<QUrl>& files);
bool XRevealInFileManager(const XStr& path);

// The description of the file's type ("MPEG-4 video"); empty when its type is unknown.
XStr XGetTypeDescription(const XStr& path);
