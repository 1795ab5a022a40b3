// Line faults against the simulated pump while the window polls it: the panel keeps running, the
// connection text tells the truth, polling comes back by itself, and every command the user
// queued before the fault reached the pump once and in order, or was dropped by the queue clear
// of a lost connection. How long each took is printed as a figure, not held to a limit.
#include "windowrig.h"

#include <QTest>

namespace {

enum class Fault { Garbage, Corruption, CutAtEtx, NakStorm, Silent, Unplug, ProtocolAnswersOff };

// Only a safety net for a fault the window never notices; the waits end on what they wait for.
constexpr int GiveUpMs = 20000;
constexpr qint64 PumpFlowRate = 12340; // shown as 12.34 (ml/min)
const QString FlowRateText = QStringLiteral("12.34");
constexpr qint64 PumpVolume = 45670;   // a different number, so that a misplaced answer shows
// A pump that answers hears a polled frame at least every few answer time-outs. When it has heard
// nothing for longer, the frames are still in the pseudo-terminal; when its own answers went out
// late during the window's silent ticks, the link had given up on them. Either way a machine so
// busy that the pump's thread waited its turn that long kept the pump from answering in time,
// and the window rightly calls it lost, until it hears from it again.
constexpr qint64 UnheardPumpMs = 500;
constexpr qint64 SilentTicksMs = 1500; // the window's ten silent ticks, and a pass to see them

// Passes in which the window calls the pump lost while the pump could not answer in time.
struct UnheardPump
{
    bool lasting = false;
    int passes = 0;

    // Whether a lost pump shown now is excused; shown connected ends the excuse.
    bool excuses(WindowRig& rig)
    {
        if (rig.showsConnected())
            lasting = false;
        else
            lasting =
                lasting || rig.pump.msSinceLastFrame() >= UnheardPumpMs
                || rig.pump.msSinceLateAnswer().value_or(SilentTicksMs) < SilentTicksMs
                // bytes the pump sent in time that reached the link after its wait
                || rig.communication.msSinceLateBytes().value_or(SilentTicksMs) < SilentTicksMs;
        passes += lasting ? 1 : 0;
        return lasting;
    }
};

// Longer runs of the corruption row (e.g. the full minute) come from the environment.
int corruptionMs()
{
    const int seconds = qEnvironmentVariableIntValue("DOSEDESK_CORRUPTION_SECONDS");
    return seconds > 0 ? seconds * 1000 : 8000;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class FaultScenarios : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
};

void FaultScenarios::scenario_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("durationMs");
    // What the connection text must say while the fault lasts; empty: it must keep saying that
    // the pump is connected, since the pump still answers.
    QTest::addColumn<QString>("faultText");
    // Whether that text is required, or only measured: noise holding STX and ETX can push an
    // answer past its exchange, and when that hits the last reading of a polling burst often
    // enough, the display's silent-tick count shows the pump as lost for a moment.
    QTest::addColumn<bool>("textRequired");

    QTest::newRow("garbage burst between answers") << Fault::Garbage << 5000 << QString() << false;
    QTest::newRow("1 % of answer bytes corrupted") << Fault::Corruption << corruptionMs() << QString() << true;
    QTest::newRow("answers cut at ETX") << Fault::CutAtEtx << 5000 << QString() << true;
    QTest::newRow("NAK storm") << Fault::NakStorm << 5000 << QString() << true;
    QTest::newRow("pump silent for five seconds") << Fault::Silent << 5000 << WindowRig::DisconnectedOpenText << true;
    QTest::newRow("unplugged mid-exchange, replugged") << Fault::Unplug << 3000
                                                       << WindowRig::DisconnectedMissingText << true;
    QTest::newRow("protocol answers off (SP0) and on") << Fault::ProtocolAnswersOff << 5000 << QString() << true;
}

void FaultScenarios::scenario()
{
    QFETCH(Fault, fault);
    QFETCH(int, durationMs);
    QFETCH(QString, faultText);
    QFETCH(bool, textRequired);

    WindowRig rig(WindowRig::onRealLine());
    QVERIFY2(rig.pump.isRunning(), qPrintable(rig.pump.errorString()));
    rig.pump.setValue("RV", PumpFlowRate);
    rig.pump.setValue("DV", PumpVolume);
    auto showsTruth = [&] {
        return rig.showsConnected() && !rig.window->isConnectionLost()
            && rig.ui().lineEditVolume->text() == FlowRateText;
    };
    QVERIFY2(rig.waitUntil(showsTruth, GiveUpMs) >= 0,
             qPrintable(QStringLiteral("at the start: \"%1\", line %2, %3 frames, flow rate shown %4")
                            .arg(rig.connectionText(), rig.communication.isOpen() ? "open" : "closed")
                            .arg(rig.pump.frameCount()).arg(rig.ui().lineEditVolume->text())));
    rig.runFor(500);
    const int clearsBefore = rig.stack.clears;

    // The user's commands, queued just before the fault strikes.
    const QList<int> queued = {101, 102, 103, 104, 105, 106};
    for (int count : queued)
        rig.typeCycles(count);

    QElapsedTimer sinceOnset;
    switch (fault) {
    case Fault::Garbage:
        break; // bursts below, between the answers
    case Fault::Corruption:
        rig.pump.modifyFaults([](Simulator::Faults& f) { f.corruptFraction = 0.01; });
        break;
    case Fault::CutAtEtx:
        rig.pump.modifyFaults([](Simulator::Faults& f) { f.cutAtEtx = true; });
        break;
    case Fault::NakStorm:
        rig.pump.modifyFaults([](Simulator::Faults& f) { f.nakAll = true; });
        break;
    case Fault::Silent:
        rig.pump.modifyFaults([](Simulator::Faults& f) { f.silent = true; });
        break;
    case Fault::Unplug:
        // The line goes while the first of the user's frames waits for its answer: the pump's
        // thread pulls it as soon as that frame has come in.
        rig.pump.setLogSink([&rig, first = QString::number(queued.first())](const QString& line) {
            if (line.contains(first))
                rig.pump.unplug();
        });
        QVERIFY(rig.waitUntil([&] { return !rig.pump.isPlugged(); }, 3000) >= 0);
        break;
    case Fault::ProtocolAnswersOff:
        rig.ui().checkboProtAnswer->setChecked(false);
        break;
    }
    sinceOnset.start();

    qint64 truthfulAfterMs = faultText.isEmpty() ? 0 : -1;
    QString untruth;
    int untruthfulPasses = 0;
    UnheardPump unheard;
    int garbageBursts = 0;
    rig.runFor(durationMs, [&] {
        const QString text = rig.connectionText();
        if (faultText.isEmpty() && !unheard.excuses(rig) && text != WindowRig::ConnectedText) {
            ++untruthfulPasses;
            if (untruth.isEmpty())
                untruth = text;
        }
        if (!faultText.isEmpty() && truthfulAfterMs < 0 && text == faultText)
            truthfulAfterMs = sinceOnset.elapsed();
        if (fault == Fault::Garbage && sinceOnset.elapsed() > garbageBursts * 250) {
            rig.pump.injectGarbage(12);
            ++garbageBursts;
        }
    });
    if (textRequired)
        QVERIFY2(untruth.isEmpty(), qPrintable(QStringLiteral("the pump answered, yet the window said ") + untruth));
    if (truthfulAfterMs < 0 && rig.waitUntil([&] { return rig.connectionText() == faultText; }, GiveUpMs) >= 0)
        truthfulAfterMs = sinceOnset.elapsed();
    QVERIFY2(truthfulAfterMs >= 0,
             qPrintable(QStringLiteral("\"%1\" after %2 ms; shown: %3")
                            .arg(faultText).arg(truthfulAfterMs).arg(rig.connectionText())));

    // The fault ends.
    rig.pump.setFaults(Simulator::Faults());
    rig.pump.setLogSink({});
    if (fault == Fault::Unplug) {
        QVERIFY(rig.pump.replug());
        rig.choosePortAgain();
    }
    if (fault == Fault::ProtocolAnswersOff)
        rig.ui().checkboProtAnswer->setChecked(true);
    const int readingsAtRecovery = rig.readingFramesReceived();
    const qint64 recoveredAfterMs = rig.waitUntil(showsTruth, GiveUpMs);
    QVERIFY2(recoveredAfterMs >= 0,
             qPrintable(QStringLiteral("after the fault: \"%1\", flow rate shown %2")
                            .arg(rig.connectionText(), rig.ui().lineEditVolume->text())));
    // Polling runs again by itself (about six readings every 500 ms), and the values stay true:
    // no answer left behind by the fault is taken for a later command's.
    QString misshown;
    int misshownPasses = 0;
    const qint64 polledAfterMs = rig.waitUntil([&] {
        const bool excused = unheard.excuses(rig);
        if (!showsTruth() && !excused) {
            ++misshownPasses;
            if (misshown.isEmpty())
                misshown = rig.connectionText() + u' ' + rig.ui().lineEditVolume->text();
        }
        return rig.readingFramesReceived() - readingsAtRecovery >= 6;
    }, GiveUpMs);
    QVERIFY2(misshown.isEmpty(), qPrintable(misshown));
    QVERIFY(polledAfterMs >= 0);

    // Each queued command reached the pump once and in order, or never ran because the queue was
    // cleared when the connection was found lost.
    const QList<int> received = rig.cyclesReceived();
    QVERIFY2(received == queued.mid(0, received.size()),
             qPrintable(QStringLiteral("received %1").arg(QDebug::toString(received))));
    const QList<int> dropped = queued.mid(received.size());
    for (int count : dropped) {
        QVERIFY2(!rig.cyclesRun(false).contains(count) && !rig.cyclesRun(true).contains(count),
                 qPrintable(QStringLiteral("%1 was run but never reached the pump").arg(count)));
    }
    if (!dropped.isEmpty())
        QVERIFY(rig.stack.clears > clearsBefore);

    qInfo("MEASURED %s | truthful after %lld ms | recovered after %lld ms | "
          "sent %lld, dropped by the queue clear %lld, lost 0 | untrue connection text in %d passes"
          " during the fault (first: \"%s\"), lost while the pump could not answer in %d passes,"
          " untrue texts in %d passes after recovery (first: \"%s\")",
          QTest::currentDataTag(), truthfulAfterMs, recoveredAfterMs, qlonglong(received.size()),
          qlonglong(dropped.size()), untruthfulPasses, qPrintable(untruth), unheard.passes,
          misshownPasses, qPrintable(misshown));
}

QTEST_MAIN(FaultScenarios)
#include "tst_faultscenarios.moc"
