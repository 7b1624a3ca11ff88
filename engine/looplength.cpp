#include "engine/looplength.h"

#include <algorithm>

namespace sonvera {

LoopLength ComputeLoopLength(int waveform, std::int64_t freqHz, std::int64_t rateHz,
                             int bytesPerSample, int durationMs)
{
    LoopLength result;
    const std::int64_t frameBytes = 2 * static_cast<std::int64_t>(std::max(bytesPerSample, 1));
    const std::int64_t limit = kDeviceBufferBytes;
    std::int64_t bytes = limit;

    if (durationMs != -1) {
        bytes = rateHz * std::max(durationMs, 0) * frameBytes / 1000;
    } else if ((waveform == 0 || waveform == 1) && freqHz > 0 && rateHz > 0) {
        std::int64_t bestM = 1;
        std::int64_t bestResidue = (rateHz) % freqHz;
        std::int64_t bestBytes = frameBytes * rateHz / freqHz;
        for (std::int64_t m = 1;; ++m) {
            const std::int64_t bytesM = frameBytes * m * rateHz / freqHz;
            if (bytesM > limit) {
                break;
            }
            const std::int64_t residueM = (m * rateHz) % freqHz;
            if (residueM <= bestResidue) {  // on a tie the larger m wins
                bestM = m;
                bestResidue = residueM;
                bestBytes = bytesM;
            }
            if (bytesM >= limit) {
                break;
            }
        }
        result.periods = bestM;
        result.residue = bestResidue;
        bytes = bestBytes;
    }

    bytes = std::clamp<std::int64_t>(bytes, 0, limit);
    result.frames = static_cast<std::uint32_t>(bytes / frameBytes);
    result.bytes = static_cast<std::uint32_t>(result.frames * frameBytes);
    return result;
}

}  // namespace sonvera
