#include "ServerKills.h"

#include "BackupJingle.h"
#include "SinkLevels.h"

#include <cstdio>

namespace bench
{

void measureServerKills(SoundBench &bench, int rounds)
{
    constexpr int Rate = MonitorRecorder::Rate;
    noggix::applyJingleSettings(bench.generator);
    bench.generator.setDuration(100);
    int survived = 0, refusedWhileDown = 0, endedWhenKilled = 0;
    for (int round = 0; round < rounds; ++round) {
        bench.waitEnd();
        pumpFor(500);
        bench.recorder.start();
        bench.awake();
        bench.generator.PlayString(noggix::BackupJingle);
        pumpFor(800);
        bench.server.kill();
        endedWhenKilled += bench.waitEnd(1500) ? 1 : 0;
        refusedWhileDown += bench.generator.PlayString(noggix::BackupJingle) ? 0 : 1;
        if (!bench.server.start() || !bench.recorder.start())
            break;
        bench.awake();
        const double again = MonitorRecorder::now();
        const bool started = bench.generator.PlayString(QByteArrayLiteral("I94,G3,90"));
        bench.waitEnd();
        bench.recorder.stop();
        const std::size_t at = bench.recorder.frameAt(again);
        const std::size_t sound = firstAtLeast(bench.recorder, at, at + Rate, 1);
        survived += started && sound < at + Rate ? 1 : 0;
        std::fprintf(stderr, "round %d: started %d, first sound %.1f ms\n", round, started,
                     double(sound - at) * 1000.0 / Rate);
    }
    std::printf("server-kills %d\nended-when-killed %d\nrefused-while-down %d\n"
                "sounded-after-restart %d\n",
                rounds, endedWhenKilled, refusedWhileDown, survived);
}

} // namespace bench
