#include "libm9s/input/StreamChoice.h"

#include <tuple>

int ChooseAudioStream(const std::vector<AudioCandidate> &candidates)
{
    const AudioCandidate *best = nullptr;
    auto rank = [](const AudioCandidate &c) {
        return std::make_tuple(c.decodable, c.hadPackets, c.isDefault, c.channels);
    };
    for (const AudioCandidate &c : candidates)
        if (!best || rank(c) > rank(*best))
            best = &c;
    return best ? best->index : -1;
}
