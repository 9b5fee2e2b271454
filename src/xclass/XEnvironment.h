// Where the process lives and how it was started: the application-data folder, the user's
// special folders, the executable's path, files shipped with the program, the process
// arguments, and the process environment read and written under one lock.
#pragma once

#include "xclass/XStr.h"

#include <mutex>
#include <string>

class XStrList;
class XListElementValue;

// The environment, guarded by one process-wide mutex: getenv is not safe while another
// thread calls setenv, so every read and write the library makes goes through these.
// XGetEnv copies the value out under the lock; isSet tells an empty value from none.
std::string XGetEnv(const char* name, bool* isSet = nullptr);
bool XSetEnv(const char* name, const char* value, bool overwrite = true);
bool XUnsetEnv(const char* name);
// The lock itself, for code that hands environ to a child (posix_spawn) while other threads
// may change it. Not recursive: call none of the three functions above while holding it.
std::mutex& XEnvironmentMutex();

// The name of the application's folder inside the data folder ("MarvoniVideo").
void XSetAppDataFolder(const wchar_t* name);
// "_APPDATA_OVERRIDE" when set, else the XDG data folder (XGetXdgDataHome); always with a
// trailing "/".
XStr XGetAppDataBase();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share (the password database's
// home when HOME is unset; the temporary folder without any home); with a trailing "/".
XStr XGetXdgDataHome();
// Where builds before the XDG place kept the application folder: ~/Library/<name>/ (empty
// without a home or a folder name). Start-up moves it to XGetAppDataFolder once.
XStr XGetOldAppDataFolder();
// XGetAppDataBase joined with the folder name and a trailing "/".
XStr XGetAppDataFolder();
XStr XGetAppDataPath(const wchar_t* name);

enum : unsigned {
    XSPECIAL_TEMP = 0,
    XSPECIAL_HOME = 1,
    XSPECIAL_MUSIC = 2,
    XSPECIAL_MOVIES = 3,
    XSPECIAL_PICTURES = 4,
    XSPECIAL_LIBRARY = 5,
};
// The folder of a kind (music, movies and pictures are the XDG user folders, the library is
// the XDG data folder); the fallback when there is none; "~" expanded.
XStr XGetSpecialFolder(unsigned kind, const wchar_t* fallback = nullptr);
// An XDG user folder by its key without "XDG_" and "_DIR" ("VIDEOS", "DOCUMENTS"), read from
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config); the home folder joined with
// fallbackName when the file does not name it. No trailing "/".
XStr XGetXdgUserFolder(const char* key, const wchar_t* fallbackName);

XStr XGetExecutablePath();
// The executable's folder with a trailing "/" ("/a/b/./" becomes "/a/b/").
XStr XGetExecutableFolder();
// The folder of the data files shipped with the program, with a trailing "/":
// <executable folder>/../share/marvoni-video/ when it exists, else, in the build tree, the
// source tree's resources/ folder when it exists, else the first one.
XStr XGetResourcesFolder();
// A file shipped with the program: next to the executable when it exists there, else in
// the resources folder when that exists (in the build tree, files written at build time are
// found in its generated-resources/), else the path next to the executable.
XStr XFindProgramFile(const XStr& name);

// The process arguments, program first; false when they cannot be read.
bool XGetProcessArgumentList(XStrList& out);
// The process arguments joined into one command line (XStrList::ToCommandLine).
XStr XGetProcessArguments();
// The arguments after the program read as element/value pairs ("-name=value", "-name value",
// "-name"); reading stops at the first word without "-". False when there is none.
bool XGetProcessElementValues(XListElementValue& out);
// The command line without the program, trimmed of blanks.
XStr XGetArgumentText();

// Every "\" doubled, every double quote escaped with a backslash, the whole in double quotes.
XStr XQuoteArgumentEscaped(const wchar_t* text);
