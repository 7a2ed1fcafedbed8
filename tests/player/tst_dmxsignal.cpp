#include "tests/player/playerrig.h"

namespace {
const QString playing = "play; expect stop:0, open:a.mp4; onplay 1;";
void row(const char *name, const QString &settings, const QString &script)
{
    PlayerRig::row(name, "a.mp4,b.mp4,c.mp4", settings, script);
}
}

class TestDmxSignal : public QObject
{
    Q_OBJECT
private slots:
    void standbyActions_data()
    {
        PlayerRig::addColumns();
        const QString playStandby = "nodmxaction=0;nodmxtrack=3;nodmxmode=2;nodmxvolume=40";
        row("play standby entry: loss while stopped plays it 1000 ms later", playStandby,
            "mark; dmx off; expect volume:40; expect stop:0, open:c.mp4; took 950 1600;"
            // Back again: the media centre is stopped but the state says playing, so play restarts the selection.
            "onplay 1; dmx on; expect stop:1; play; expect stop:1, open:a.mp4");
        row("play standby entry: loss while playing stops first, then the entry follows its own mode", "nodmxtrack=2;nodmxmode=2",
            playing + "dmx off; expect stop:1, volume:100; expect stop:1, open:b.mp4; onplay 1; end; expect stop:1, open:c.mp4");
        PlayerRig::row("play standby entry: on return the stand-by picture's interval no longer moves on", "a.mp4,p.png",
            "nodmxtrack=2;nodmxmode=3;imageinterval=1", "dmx off; expect volume:100; expect stop:0, open:p.png; onplay 2; dmx on; expect stop:2; wait 1500; none");
        row("play standby entry: quick return still gets the delayed play", playStandby, "dmx off; expect volume:40; dmx on; expect stop:0; expect stop:0, open:a.mp4");
        row("stop: loss stops once however often reported; return restores without opening", "nodmxaction=1",
            playing + "dmx off; dmx off; expect stop:1, volume:100; dmx on; wait 1200; none; play; expect stop:1, open:a.mp4");
        row("monitor off: loss and return switch the monitor after 300 ms", "nodmxaction=2",
            playing + "mark; dmx off; expect volume:100; monitor 0; took 250 1000; none; mark; dmx on; monitor 1; took 250 1000; none");
        row("unknown action: only the volume", "nodmxaction=7", playing + "dmx off; expect volume:100; wait 1200; none");
        row("track, mode and volume ignored while the signal is absent", "nodmxaction=1",
            "dmx off; expect volume:100; setTrack 2; setMode 3; setVolume 10; wait 700; none;"
            "play; expect stop:0, open:a.mp4; onplay 1; end; wait 700; none; pause; expect pause:1; stop; expect stop:1");
        row("Polish notices", "showosd=true;nodmxaction=1;language=Polish",
            "dmx off; expect note:DMX|Brak sygnału DMX, volume:100; dmx on; expect note:DMX|Wznowienie sygnału DMX");

        // Configured values: bad ones are clamped or read as 0.
        const QString loss = "dmx off; expect volume:%1; expect stop:0, open:%2";
        row("negative action becomes play standby", "nodmxaction=-3;nodmxtrack=2", loss.arg(100).arg("b.mp4"));
        row("track beyond the list plays nothing", "nodmxtrack=5", "dmx off; expect volume:100; wait 1200; none");
        row("volume is sent unscaled; a non-number track reads as 0, the first entry", "nodmxvolume=63;nodmxtrack=x", loss.arg(63).arg("a.mp4"));
    }

    void standbyActions() { PlayerRig::runScenario(); }
};

QUORVANT_TEST_MAIN(TestDmxSignal)
#include "tst_dmxsignal.moc"
