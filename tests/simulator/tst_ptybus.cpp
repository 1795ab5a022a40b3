#include "framing.h"
#include "ptypump.h"
#include "pumpcontrol.h"

#include <QtTest>

#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using Simulator::PtyPump;
using Simulator::PumpControl;

namespace {

constexpr int answerTimeoutMs = 5000;

// The panel's end of the line: the pseudo-terminal's device, raw.
class LineEnd
{
public:
    explicit LineEnd(const QString& device)
        : fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings{};
        if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    ~LineEnd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    LineEnd(const LineEnd&) = delete;
    LineEnd& operator=(const LineEnd&) = delete;

    bool isOpen() const { return fd >= 0; }
    bool send(const QByteArray& bytes)
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // The next answer on the line: one ACK or NAK byte, or everything up to ETX and the byte
    // after it; what came when the time is up.
    QByteArray readAnswer(int timeoutMs)
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        QByteArray bytes;
        for (;;) {
            const bool single = bytes.startsWith(Protocol::ACK) || bytes.startsWith(Protocol::NAK);
            const qsizetype etx = bytes.indexOf(Protocol::ETX, 1);
            if (single || (etx > 0 && bytes.size() > etx + 1))
                return bytes;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd readable{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0)
                return bytes;
            char byte = 0;
            if (::read(fd, &byte, 1) == 1)
                bytes += byte;
        }
    }

private:
    int fd = -1;
};

// What a frame step expects, as written in the table: "ACK", "NAK", "-" for nothing, the data
// of a sound answer frame, or "garbled DATA" for a frame with that data and a failing check byte.
QByteArray expectedOnLine(const QString& expected)
{
    if (expected == QLatin1String("ACK"))
        return QByteArray(1, Protocol::ACK);
    if (expected == QLatin1String("NAK"))
        return QByteArray(1, Protocol::NAK);
    if (expected == QLatin1String("-"))
        return {};
    return Protocol::Framing::answer(expected.toLatin1());
}

} // namespace

// Several simulated pumps on one pseudo-terminal: each keeps to its address, model and state,
// one switched off keeps quiet, and two at one address collide on the line.
class TestPtyBus : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data();
    void exchanges();
};

void TestPtyBus::exchanges_data()
{
    // addresses, models: the values of --address and --model, in order.
    // steps: "@AAbody => answer" sends a frame to address AA; any other line is a control line
    // and names the reply line it gets.
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QStringList>("models");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("each address answers with its own model")
        << QStringList{"0", "5", "7"} << QStringList{"110", "102"} << true
        << QStringList{"@00?SV => 0011001023", "@05?SV => 0010201023", "@09?SV => -",
                       "@07?SV => 0011001023", "@05?SI => 05",         "@07 => 07"};
    QTest::newRow("a frame changes only its own pump")
        << QStringList{"0", "5"} << QStringList{} << true
        << QStringList{"@05DV250 => ACK",         "@05?DV => 250",
                       "@00?DV => 10000",         "get DV => ok 10000",
                       "pump 5 get DV => ok 250", "pump 0 get DV => ok 10000"};
    QTest::newRow("a pump switched off is silent, the others answer")
        << QStringList{"0", "5"} << QStringList{"110", "102"} << true
        << QStringList{"pump 5 set DV 300 => ok", "pump 5 off => ok", "@05?SV => -",
                       "@00?SV => 0011001023",    "@05DV250 => -",    "@00?DV => 10000",
                       "pump 5 on => ok",         "@05?DV => 300",    "@05?SV => 0010201023"};
    QTest::newRow("two pumps at one address collide")
        << QStringList{"3", "3"} << QStringList{"110", "102"} << true
        << QStringList{"@03?SV => garbled 0010001023", "@03?DV => 10000",
                       "set DV 12500 => ok",           "@03?DV => garbled 10000",
                       "pump 3 set DV 12500 => ok",    "@03?DV => 12500"};
    QTest::newRow("control lines for one pump")
        << QStringList{"0", "5"} << QStringList{"110"} << true
        << QStringList{"pump 9 get DV => error no pump at address 9",
                       "pump 5 silent on => error only set, get, error-bits, master-stop, on and "
                       "off act on one pump",
                       "pump five get DV => error usage: pump N COMMAND (N: address 0 to 99)",
                       "pump 5 error-bits 129 => ok",
                       "@05?SS6 => 129",
                       "@00?SS6 => 000",
                       "pump 5 master-stop on => ok",
                       "@05KY1 => NAK",
                       "@00KY1 => ACK"};
    QTest::newRow("address out of range refused")
        << QStringList{"0", "100"} << QStringList{} << false << QStringList{};
    QTest::newRow("more models than addresses refused")
        << QStringList{"4"} << QStringList{"102", "110"} << false << QStringList{};
}

void TestPtyBus::exchanges()
{
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, models);
    QFETCH(bool, accepted);
    QFETCH(QStringList, steps);

    PtyPump::Options options;
    QCOMPARE(PumpControl::choosePumps(addresses, models, options), accepted);
    if (!accepted)
        return;
    PtyPump pump(options);
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));
    QCOMPARE(pump.addresses().size(), addresses.size());
    PumpControl control(pump);
    LineEnd line(pump.devicePath());
    QVERIFY(line.isOpen());

    for (const QString& step : std::as_const(steps)) {
        const qsizetype arrow = step.indexOf(QLatin1String(" => "));
        QVERIFY2(arrow > 0, qPrintable(step));
        const QString given = step.left(arrow);
        const QString expected = step.mid(arrow + 4);
        if (!given.startsWith(QLatin1Char('@'))) {
            QCOMPARE(PumpControl::replyLine(control.apply(given)), expected);
            continue;
        }
        const QByteArray frame = Protocol::Framing::sealed(
            Protocol::Framing::command(given.mid(1, 2).toLatin1(), given.mid(3).toLatin1()));
        const int before = pump.frameCount();
        QVERIFY(line.send(frame));
        QVERIFY2(pump.waitForFrames(before + 1, answerTimeoutMs), qPrintable(step));
        // One record for the frame, with what went on the line for it.
        const Simulator::ExchangeRecord record = pump.exchanges().last();
        QCOMPARE(pump.frameCount(), before + 1);
        QCOMPARE(record.frame, frame);

        if (expected == QLatin1String("-")) {
            // Nothing follows; the next answer read must be the next frame's own.
            QVERIFY2(record.answer.isEmpty(), qPrintable(step));
            continue;
        }
        const QByteArray received = line.readAnswer(answerTimeoutMs);
        QCOMPARE(record.answer, received);
        if (expected.startsWith(QLatin1String("garbled "))) {
            const QByteArray data = expected.mid(8).toLatin1();
            QCOMPARE(received.chopped(1), QByteArray(Protocol::STX + data + Protocol::ETX));
            QVERIFY2(Protocol::Framing::checkByte(received) != 0, "the check byte fits");
        } else {
            QCOMPARE(received, expectedOnLine(expected));
        }
    }
}

QTEST_GUILESS_MAIN(TestPtyBus)
#include "tst_ptybus.moc"
