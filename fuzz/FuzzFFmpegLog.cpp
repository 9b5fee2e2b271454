// The judge of ffmpeg's standard error on any bytes: ffmpeg prints file names, tag texts and
// the messages of damaged files, so its lines are as untrusted as the files it reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/KRAFFmpegLog.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    KRAFFmpegLog log({XStr(L"/o/out.tmp-1.mp4")});
    size_t begin = 0;
    while (begin <= bytes.size()) {
        size_t end = bytes.find('\n', begin);
        if (end == std::string::npos)
            end = bytes.size();
        log.addLine(XStr::FromUTF8Bytes(bytes.data() + begin, end - begin));
        begin = end + 1;
    }
    fuzz::Check(!log.errorsOnlyFromInput() || log.hasErrors(), "input errors without errors");
    const size_t shown = log.shownErrors().size();
    fuzz::Check(shown <= KRAFFmpegLog::kMaxDistinctLines + 1, "more lines shown than the bound");
    fuzz::Check(log.hasErrors() == (shown > 0), "errors and shown lines disagree");
    return 0;
}
