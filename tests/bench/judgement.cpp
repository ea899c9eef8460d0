// What judging one automatic check's recording costs on the window's thread, built as Kelvane is:
// the check's two tones 80 ms late in a recording as long as the check makes, clean, then cut
// flat at full scale (a tone that is clipped is read otherwise). Prints the fastest of five.
// Built by hand, with the flags Kelvane's sources take, so that it can time any revision's:
//   i686-w64-mingw32-g++ -Os -std=c++17 -static -I. tests/bench/judgement.cpp signal/*.cpp -o
//       build/judgement_bench.exe
//   . tests/e2e/wine_env.sh build/windows && wine build/judgement_bench.exe
#include <windows.h>

#include <cstdio>

#include "signal/loopback_judgement.h"

namespace {

using kelvane::ToneChannel;

double FastestMs(double gain) {
    constexpr int kLead = 4410, kDelay = 3528;
    constexpr int kFrames = kLead + kelvane::kRightToneOffsetFrames + kelvane::kCheckToneFrames +
                            kelvane::kMaxLatencyFrames + kLead;
    std::vector<std::int16_t> samples(2 * kFrames, 0);
    const std::vector<std::int16_t> played = kelvane::MakeCheckTones(true);
    for (std::size_t i = 0; i < played.size(); ++i) {
        const double x = gain * played[i];
        samples[2 * (kLead + kDelay) + i] = static_cast<std::int16_t>(x > 32767    ? 32767
                                                                      : x < -32768 ? -32768
                                                                                   : x);
    }
    const std::vector<kelvane::SentTone> sent = {
        {ToneChannel::Left, kLead}, {ToneChannel::Right, kLead + kelvane::kRightToneOffsetFrames}};
    LARGE_INTEGER rate, start, end;
    QueryPerformanceFrequency(&rate);
    double fastest = 1e9;
    for (int round = 0; round < 5; ++round) {
        QueryPerformanceCounter(&start);
        const kelvane::LoopbackJudgement judged = kelvane::JudgeLoopback(samples, 2, sent);
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * (end.QuadPart - start.QuadPart) / rate.QuadPart;
        fastest = ms < fastest ? ms : fastest;
        if (!kelvane::AllHeard(judged) || judged.broken) {
            std::printf("the tones were not heard whole\n");
            return -1;
        }
    }
    return fastest;
}

}  // namespace

int main() {
    std::printf("judging a clean recording: %.1f ms\n", FastestMs(1));
    std::printf("judging a clipped recording: %.1f ms\n", FastestMs(5));
    return 0;
}
