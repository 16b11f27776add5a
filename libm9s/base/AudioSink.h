#pragma once
// Where a stage puts the samples it makes. The pipeline hands each stage
// the door of the next one (the encoder behind the -t limit, or the queue
// to another thread), so no stage knows what follows it.

#include <cstdint>

class AudioSink {
public:
    virtual ~AudioSink() = default;
    // Room for samples in the output's format, one pointer per plane;
    // valid until the next Commit().
    virtual uint8_t **Reserve(int samples) = 0;
    // The first samples of the room are audio to pass on.
    virtual void Commit(int samples) = 0;
    // Takes no more: the -t limit is reached, or the thread behind gave up.
    virtual bool Full() const = 0;
};
