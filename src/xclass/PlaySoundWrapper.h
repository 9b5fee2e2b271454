// PlaySound: plays a sound file with the desktop's command-line player, the first of paplay,
// pw-play, aplay and "ffplay -nodisp -autoexit -loglevel quiet" found on PATH. The player is
// started from an argument list, its output goes to /dev/null and its own failures are not
// seen. The converter plays its end-of-job sounds this way.
#pragma once

#include "xclass/XList.h"
#include "xclass/XStr.h"

constexpr unsigned SND_ASYNC = 1;    // return at once, the sound plays in the background
constexpr unsigned SND_FILENAME = 2; // the sound is a file name (required)

// Nothing is played without SND_FILENAME. With SND_ASYNC the call returns once the player has
// started (a background thread reaps it), else when the player has ended. The module is
// ignored. True when a player was started.
bool PlaySound(const wchar_t* file, const void* module, unsigned flags);

// The argument list PlaySound starts for file with the player found in pathValue (PATH syntax;
// null: the PATH of the environment). False when no player is there.
bool XSoundPlayerCommand(const wchar_t* file, XStrList& args, const char* pathValue = nullptr);
