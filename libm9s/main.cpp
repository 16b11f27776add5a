// libm9s: extracts the sound track of a video into a WAV, MP3, FLAC, M4A,
// Opus or Ogg Vorbis file, or copies it as it is.
//
//   libm9s -i INPUT -y -f wav|mp3|flac|m4a|opus|ogg -vn -ab KBITS -ar HZ -ac 1|2
//          [-t T] [-ss T] [-map 0:a:N] OUTPUT
//   libm9s -i INPUT -y -acodec copy [-t T] [-ss T] [-map 0:a:N] OUTPUT
//   libm9s -probe FILE
//
// Progress goes to standard error; "quit" on standard input, SIGTERM or
// SIGINT (also sent when the parent dies) end the conversion early with a
// valid file of what was converted. Exit status 0 when the file was
// converted whole, 1 on any failure, 3 when it was stopped before the end
// (after a line that says how far it came): a stop is never taken for the
// finished file.

#include "libm9s/EncoderContract.h"
#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/Options.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/input/TrackList.h"
#include "libm9s/pipeline/Pipeline.h"

extern "C" {
#include <libavutil/log.h>
}

#include <new>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    av_log_set_level(AV_LOG_ERROR);
    InstallLibraryLog();
    StopControl::Install();

    int status = EncoderContract::ExitDone;
    try {
        const EncoderOptions options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
        RunEnd end;
        if (!options.probePath.empty())
            PrintAudioTracks(options.probePath);
        else
            end = RunPipeline(options);
        if (end.stopped) {
            WriteStoppedMarker(FormatSeconds(end.convertedUs, 1000000));
            status = EncoderContract::ExitStopped;
        }
    } catch (const EncoderError &e) {
        WriteFailure(e.Kind(), e.what());
        status = EncoderContract::ExitFailed;
    } catch (const std::bad_alloc &) {
        WriteFailure(EncoderContract::FailureKind::Other, "Out of memory");
        status = EncoderContract::ExitFailed;
    } catch (const std::exception &e) {
        WriteFailure(EncoderContract::FailureKind::Other, std::string("Internal error: ") + e.what());
        status = EncoderContract::ExitFailed;
    }
    StopControl::Finished();
    return status;
}
