#include "xclass/PlaySoundWrapper.h"

#include <memory>

#include "xclass/XThread.h"
#include "xclass/XWorkerProcess.h"

namespace {
struct Player {
    const wchar_t* Name;
    const wchar_t* const* Options;
};
const wchar_t* const kNoOptions[] = {nullptr};
const wchar_t* const kFfplayOptions[] = {L"-nodisp", L"-autoexit", L"-loglevel", L"quiet", nullptr};
const Player kPlayers[] = {
    {L"paplay", kNoOptions},
    {L"pw-play", kNoOptions},
    {L"aplay", kNoOptions},
    {L"ffplay", kFfplayOptions},
};
} // namespace

bool XSoundPlayerCommand(const wchar_t* file, XStrList& args, const char* pathValue)
{
    args.Clear();
    if (!file)
        return false;
    for (const Player& player : kPlayers) {
        const XStr path = XFindProgramInPath(player.Name, pathValue);
        if (path.IsEmpty())
            continue;
        args.Add(path);
        for (const wchar_t* const* option = player.Options; *option; ++option)
            args.Add(*option);
        args.Add(file);
        return true;
    }
    return false;
}

bool PlaySound(const wchar_t* file, const void* module, unsigned flags)
{
    (void)module;
    if (!(flags & SND_FILENAME) || !file || !*file)
        return false;
    XStrList args;
    if (!XSoundPlayerCommand(file, args))
        return false;
    auto player = std::make_shared<XWorkerProcess>();
    if (!player->Create(args, 0))
        return false;
    if (!(flags & SND_ASYNC)) {
        player->Close(-1);
        return true;
    }
    // The sound plays on; a thread of its own waits for the player so that it leaves no
    // zombie behind.
    if (!XSplitThread([player] { player->Close(-1); }))
        player->Detach();
    return true;
}
