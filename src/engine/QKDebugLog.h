// The debug log: with it on, every line ffmpeg writes is kept in a text file per conversion
// in the user's documents folder, "QKDebug-PID.txt" for the first conversion of the process
// and "QKDebug-PID+N.txt" (N = 1, 2, ...) for each later one.
//
// The switch starts as the environment variable "MARVONI_DEBUG" was at start-up (set: on)
// and is then kept in the log's own atomic flag: turning it on or off while conversions run
// never touches the process environment, which other threads may be reading. A conversion
// looks at the switch once, when it starts.
#pragma once

#include "xclass/XFile.h"
#include "xclass/XStr.h"

// Turns the log on or off for the conversions started from now on.
void setDebugEnv(bool on);
bool isDebugEnv();
// The next log file name (the process-wide counter goes up by one on each call).
XStr makeDebugLogName();
// With the log on, opens (creating it when missing) the next log file for appending;
// otherwise, or when it cannot be opened, leaves file closed. True when it is open.
bool openDebugLog(XFile& file);
// Appends the line and "\n" as UTF-8 when the file is open. Callers serialise their writes.
void appendDebugLogLine(XFile& file, const XStr& line);
