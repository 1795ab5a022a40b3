// Hostile input from the user and from the settings store: every value gets a clear outcome
// (normalised, refused with a note, or sent as typed and answered by the pump), never a crash.
#include "panelrig.h"

#include "constants.h"

#include <QTest>
#include <QTextDocument>

namespace {

const QString InvalidValue = QStringLiteral("INVALID VALUE");
const QString Accepted = QStringLiteral("COMMAND ACCEPTED");
const QString NotAccepted = QStringLiteral("COMMAND NOT ACCEPTED (RANGE)");

bool connected(PanelRig& rig)
{
    return rig.waitUntil([&] { return rig.showsConnected() && !rig.window->isConnectionLost(); }, 8000) >= 0;
}

// Bodies (after the address) of the frames with this code the pump received.
QList<QByteArray> bodiesWithCode(const PanelRig& rig, const QByteArray& code)
{
    QList<QByteArray> bodies;
    for (const QByteArray& frame : rig.pump.receivedFrames()) {
        const QByteArray body = frame.mid(3, frame.size() - 5);
        if (body.startsWith(code))
            bodies << body;
    }
    return bodies;
}

// First byte the pump sent back to the frame with this body; 0 while it has not answered it.
char pumpAnswered(const PanelRig& rig, const QByteArray& body)
{
    for (const Simulator::ExchangeRecord& exchange : rig.pump.exchanges()) {
        if (exchange.frame.mid(3, exchange.frame.size() - 5) == body && !exchange.answer.isEmpty())
            return exchange.answer.at(0);
    }
    return 0;
}

} // namespace

class BadInput : public QObject
{
    Q_OBJECT

private slots:
    void typedValue_data();
    void typedValue();
    void rawCommand_data();
    void rawCommand();
    void storedSettings_data();
    void storedSettings();
};

void BadInput::typedValue_data()
{
    // Fields are filled in order, the last one finishes the edit; body: what the pump must get
    // (after the address), empty when the value is refused; outcome: the transmission text.
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome");

    const QStringList volume{QStringLiteral("lineEditVolume")};
    const QStringList cycles{QStringLiteral("lineEditCycles")};
    const QStringList breakTime{QStringLiteral("lineEditBreakTimeSec"), QStringLiteral("lineEditBreakTimeMin")};
    const QStringList time{QStringLiteral("lineEditTimeHour"), QStringLiteral("lineEditTimeMin"),
                           QStringLiteral("lineEditTimeSec")};

    QTest::newRow("flow rate within the limits") << volume << QStringList{"12,5"} << QByteArray("RV00012500") << Accepted;
    QTest::newRow("flow rate beyond the field limit") << volume << QStringList{"5000"} << QByteArray("RV05000000") << NotAccepted;
    QTest::newRow("flow rate negative") << volume << QStringList{"-5"} << QByteArray("RV000-5000") << NotAccepted;
    QTest::newRow("flow rate beyond 32 bits") << volume << QStringList{"1e300"} << QByteArray() << InvalidValue;
    QTest::newRow("flow rate of 100000 digits") << volume << QStringList{QString(100000, u'9')} << QByteArray() << InvalidValue;
    QTest::newRow("flow rate not a number") << volume << QStringList{"twelve"} << QByteArray() << InvalidValue;
    QTest::newRow("cycles negative") << cycles << QStringList{"-3"} << QByteArray("DN000-3") << NotAccepted;
    QTest::newRow("cycles beyond the field limit") << cycles << QStringList{"5000"} << QByteArray("DN05000") << Accepted;
    QTest::newRow("cycles beyond 32 bits") << cycles << QStringList{"99999999999"} << QByteArray() << InvalidValue;
    QTest::newRow("break time beyond the pump's range") << breakTime << QStringList{"0", "100000"}
                                                        << QByteArray("DB6000000") << NotAccepted;
    // The three time fields are normalised as they are typed: 90 s become 1 min 30 s, totals
    // are clamped to 00:00:00 ... 99:59:59.
    QTest::newRow("dispense seconds beyond 59") << time << QStringList{"00", "00", "90"} << QByteArray("DT00013000") << Accepted;
    const QStringList hoursLast{QStringLiteral("lineEditTimeMin"), QStringLiteral("lineEditTimeSec"),
                                QStringLiteral("lineEditTimeHour")};
    QTest::newRow("dispense hours beyond 99") << hoursLast << QStringList{"00", "00", "500"} << QByteArray("DT99595900") << Accepted;
    QTest::newRow("dispense total beyond 99 h") << time << QStringList{"00", "00", "99999999"} << QByteArray("DT99595900") << Accepted;
    QTest::newRow("dispense time negative") << time << QStringList{"00", "00", "-5"} << QByteArray("DT00000000") << Accepted;
}

void BadInput::typedValue()
{
    QFETCH(QStringList, fields);
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);

    PanelRig rig;
    QVERIFY(connected(rig));
    const QByteArray code = body.isEmpty() ? QByteArray() : body.left(2);
    rig.stalls.reset();
    QLineEdit* last = nullptr;
    for (int i = 0; i < fields.size(); ++i) {
        last = rig.window->findChild<QLineEdit*>(fields.at(i));
        QVERIFY2(last, qPrintable(fields.at(i)));
        last->setText(texts.at(i));
    }
    const int runsBefore = rig.stack.runs.size();
    emit last->editingFinished();

    if (body.isEmpty()) {
        QCOMPARE(rig.ui().labelUserAction->text(), outcome);
        rig.runFor(300);
        for (int i = runsBefore; i < rig.stack.runs.size(); ++i)
            QVERIFY2(rig.stack.runs.at(i).frame.at(3) == '?', rig.stack.runs.at(i).frame.constData());
    } else {
        QVERIFY2(rig.waitUntil([&] { return !bodiesWithCode(rig, code).isEmpty(); }, 3000) >= 0,
                 qPrintable(rig.ui().labelUserAction->text()));
        // The pump's own answer to the frame decides; the transmission label samples only the
        // last exchange of a display tick, and polled readings may follow the frame within it.
        const char expectedAnswer = outcome == NotAccepted ? '\x15' : '\x06';
        QVERIFY2(rig.waitUntil([&] { return pumpAnswered(rig, body) == expectedAnswer; }, 2000) >= 0,
                 qPrintable(QStringLiteral("pump answered %1").arg(int(pumpAnswered(rig, body)))));
        rig.runFor(300);
        QCOMPARE(bodiesWithCode(rig, code), QList<QByteArray>{body});
    }
    QVERIFY(rig.stalls.longestStallMs() <= PanelRig::StallLimitMs);
}

void BadInput::rawCommand_data()
{
    QTest::addColumn<QString>("text");
    // How a byte of the text must read in the Tx pane.
    QTest::addColumn<QString>("escaped");

    QTest::newRow("non-ASCII text") << QStringLiteral("?DV Füße ✓") << QStringLiteral("'/195''/188'");
    QTest::newRow("control characters") << QStringLiteral("?DV\u0002\u0003\u0015") << QStringLiteral("'/002''/003''/021'");
    QTest::newRow("100000 characters") << QString(100000, u'x') << QStringLiteral("xxxxxxxxxx");
}

void BadInput::rawCommand()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);

    PanelRig rig;
    QVERIFY(connected(rig));
    QLineEdit* field = rig.ui().lineEditDiscreteCommand;
    field->setText(text);
    // The field takes what fits its length; that is what the user can type, and what is sent.
    QVERIFY(field->text().size() <= field->maxLength());
    QVERIFY(text.startsWith(field->text()));
    const QByteArray expected = QByteArray("00") + field->text().toUtf8();
    const int framesBefore = rig.pump.frameCount();
    rig.stalls.reset();
    emit field->returnPressed();

    // Handed to the line as typed, in UTF-8, between the address and ETX.
    const auto sent = [&] {
        return std::any_of(rig.stack.runs.cbegin(), rig.stack.runs.cend(), [&](const RecordingStack::Run& run) {
            return run.lineOpen && run.frame.mid(1, run.frame.size() - 3) == expected;
        });
    };
    QVERIFY(rig.waitUntil(sent, 5000) >= 0);
    // The pump got it (whatever it makes of it) and the panel still talks to it.
    QVERIFY(rig.pump.frameCount() > framesBefore);
    rig.runFor(300);
    QVERIFY(connected(rig));
    // The logged line shows every byte outside "0".."z" as its number: nothing raw reaches the pane.
    const QString pane = rig.ui().textEditTxData->toPlainText();
    QVERIFY(pane.contains(escaped));
    for (const QChar c : pane) {
        QVERIFY2(c == u'\n' || c == u'\u2029' || (c.unicode() >= 0x20 && c.unicode() < 0x7f),
                 qPrintable(QString::number(c.unicode())));
    }
    const qint64 stall = rig.stalls.longestStallMs();
    qInfo("MEASURED raw command %s: %lld bytes sent, stall max %lld ms", QTest::currentDataTag(),
          qlonglong(expected.size()), stall);
    QVERIFY(stall <= PanelRig::StallLimitMs);
}

void BadInput::storedSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<bool>("offerPump");
    QTest::addColumn<int>("address");      // what comboCommAddress must show
    QTest::addColumn<QString>("connection"); // what the window must come to say

    const QString addressKey = Constants::AddressSettingsKey;
    const QString portKey = Constants::PortSettingsKey;
    const QString connectedText = PanelRig::ConnectedText;
    QTest::newRow("address 250") << QVariantMap{{addressKey, 250}} << true << 0 << connectedText;
    QTest::newRow("address -3") << QVariantMap{{addressKey, -3}} << true << 0 << connectedText;
    QTest::newRow("address not a number") << QVariantMap{{addressKey, "x7"}} << true << 0 << connectedText;
    QTest::newRow("address 42 (no pump there)") << QVariantMap{{addressKey, 42}} << true << 42
                                                << PanelRig::DisconnectedOpenText;
    QTest::newRow("port name of 5000 characters") << QVariantMap{{portKey, QString(5000, u'p')}} << false << 0
                                                  << PanelRig::DisconnectedUnavailableText;
}

void BadInput::storedSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, offerPump);
    QFETCH(int, address);
    QFETCH(QString, connection);

    PanelRig::Options options;
    options.storedSettings = stored;
    options.offerPump = offerPump;
    PanelRig rig(options);
    QCOMPARE(rig.ui().comboCommAddress->currentIndex(), address);
    // Without a pump the display runs every 500 ms: ten silent ticks take five seconds.
    QVERIFY2(rig.waitUntil([&] { return rig.connectionText() == connection; }, 8000) >= 0,
             qPrintable(rig.connectionText()));
    QCOMPARE(rig.communication.isOpen(), offerPump);
}

QTEST_MAIN(BadInput)
#include "tst_badinput.moc"
