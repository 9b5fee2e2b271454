// Long "every X" tests split into parts that ctest runs side by side: MARVONI_TEST_SHARD=K/N
// gives a run the cases whose index is K modulo N. Without it (a test binary run by hand)
// a run takes every case.
#pragma once

#include <cstdlib>
#include <string>

struct TestShard {
    size_t index = 0;
    size_t count = 1;

    // The shard of this run; an unreadable setting is no shard, so nothing is left out.
    static TestShard current()
    {
        TestShard shard;
        const char* text = std::getenv("MARVONI_TEST_SHARD");
        if (!text)
            return shard;
        const std::string value = text;
        const size_t slash = value.find('/');
        if (slash == std::string::npos || slash == 0 || slash + 1 >= value.size() ||
            value.find_first_not_of("0123456789/") != std::string::npos ||
            value.find('/', slash + 1) != std::string::npos)
            return shard;
        const size_t index = std::stoul(value.substr(0, slash));
        const size_t count = std::stoul(value.substr(slash + 1));
        if (count == 0 || count > 1000 || index >= count)
            return shard;
        shard.index = index;
        shard.count = count;
        return shard;
    }
    // Whether the case of that index belongs to this run.
    bool has(size_t caseIndex) const { return caseIndex % count == index; }
    // Whether this run is the one that does what is done once (the checks over all cases).
    bool first() const { return index == 0; }
};
