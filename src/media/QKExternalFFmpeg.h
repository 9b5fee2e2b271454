// Whether an external (full, GPL) ffmpeg is in use. The encoder and effect catalogues offer
// their GPL-only entries only then. Finding ffmpeg is not this file's business: the code that
// locates the executables installs its answer here with setProbe at start-up; until one is
// installed the answer is false. Tests install a fixed answer.
#pragma once

#include <functional>

class QKExternalFFmpeg {
public:
    using Probe = std::function<bool()>;

    // Replaces the probe (an empty function: no external ffmpeg). Safe from any thread.
    static void setProbe(Probe probe);
    // The probe's answer; asked afresh on every call.
    static bool haveExternalFFmpeg();
};
