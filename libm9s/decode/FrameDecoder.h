#pragma once
// The decode stage: the chosen audio's packets read from the input and
// decoded, each frame handed to the pipeline's callback.

#include "libm9s/base/AvHandles.h"

#include <functional>

class InputMedia;

// Hands every decoded frame of input's chosen audio to take, through the
// decoder's flush at the end, also after a stop request (what the decoder
// holds is converted audio too). take may keep the frame (leaving frame
// empty); it returns false when it wants no more, and so does this. A frame
// the decoder cannot make (a damaged packet) is skipped, as the ffmpeg
// program does.
bool DecodeFrames(InputMedia &input, const std::function<bool(FramePtr &frame)> &take);
