#pragma once
// Which audio stream of the input gets converted.

#include <vector>

struct AudioCandidate {
    int index = 0;
    bool decodable = true;   // a decoder exists for its codec
    bool hadPackets = false; // packets were seen while probing
    bool isDefault = false;  // default disposition
    int channels = 0;
};

// The ffmpeg program's choice, except that streams nobody can decode come
// last: streams that showed packets, then the default-disposition stream,
// then the one with most channels; on a tie the first. -1 when there is none.
int ChooseAudioStream(const std::vector<AudioCandidate> &candidates);
