#include "communication.h"

#include "platform.h"
#include "serialtransport.h"

#include <QMetaObject>
#include <QThread>

namespace {

// Milliseconds since a tick; the unsigned subtraction absorbs the 32-bit wrap-around.
qint32 msSince(quint32 start)
{
    return qint32(Platform::tickCount() - start);
}

} // namespace

Communication::Communication() : transport(Transport::create(QString()))
{
    // A child, so that it moves with the link to the link's thread.
    transport->setParent(this);
    sinceMade.start();
    publish();
}

std::optional<qint64> Communication::msSinceLateBytes() const
{
    const qint64 at = lateBytesAtMs.load();
    if (at < 0)
        return std::nullopt;
    return sinceMade.elapsed() - at;
}

Communication::~Communication()
{
    transport->close();
}

bool Communication::isOpen() const
{
    const QMutexLocker locker(&stateLock);
    return published.open;
}

QString Communication::portPath() const
{
    const QMutexLocker locker(&stateLock);
    return published.portPath;
}

QString Communication::lineFault() const
{
    const QMutexLocker locker(&stateLock);
    return published.lineFault;
}

QString Communication::chosenPath() const
{
    const QMutexLocker locker(&stateLock);
    return published.chosen;
}

PortStatus Communication::portStatus() const
{
    const QMutexLocker locker(&stateLock);
    return published.status;
}

void Communication::publish()
{
    State state{open, transport->name(), transport->errorString(), chosen, status};
    const QMutexLocker locker(&stateLock);
    published = std::move(state);
}

void Communication::setCommPort(const QSerialPortInfo& info)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, info] { setCommPort(info); });
        return;
    }
    portInfo = info;
    openPort(info.isNull() ? QString() : info.systemLocation());
}

void Communication::setCommPortPath(const QString& path)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, path] { setCommPortPath(path); });
        return;
    }
    portInfo = QSerialPortInfo();
    openPort(path);
}

void Communication::openPort(const QString& path)
{
    transport->close();
    deviceLost = false;
    open = false;
    transport = Transport::create(path);
    transport->setParent(this);
    connect(transport.get(), &Transport::opened, this, &Communication::onTransportOpened);
    connect(transport.get(), &Transport::lost, this, &Communication::onTransportLost);
    // A device that went again while it was being set up (a flapping adapter) did not open: its
    // loss is reported during open() and must not be forgotten with the errors of a failed open.
    open = !path.isEmpty() && transport->open() && transport->isOpen();
    chosen = path;
    status = statusAfterOpen();
    // The errors of a failed open are no loss of a line; a later open must not be closed for them.
    deviceLost = false;
    receiveBuffer.clear();

    // The "unused LRC" option survives a port change, so a frame may still end in "U":
    // the sent check byte is valid only while neither test option is on.
    invalidLrc = false;
    sentLrcValid = !unusedLrc;
    answerRecognised = true;
    nakReceived = false;
    ackReceived = false;
    addressOnlyAnswer = false;
    publish();
}

bool Communication::reopen()
{
    if (open)
        return true;
    if (Transport::isNetworkName(chosen))
        return false;
    if (!PortStatus::exists(PortStatus::locationOf(chosen))) {
        status = chosen.isEmpty() ? PortStatus::notChosen() : PortStatus::missing();
        publish();
        return false;
    }
    // The same device again: the test options the user chose for it stay in force.
    const bool falsified = invalidLrc;
    openPort(chosen);
    invalidLrc = falsified;
    sentLrcValid = !unusedLrc && !invalidLrc;
    return open;
}

QByteArray Communication::addressText() const
{
    return Protocol::Framing::address(probedAddress.value_or(address));
}

bool Communication::sendFrame(QByteArray& frame)
{
    using CheckByte = Protocol::Framing::CheckByte;
    frame = Protocol::Framing::sealed(frame, invalidLrc  ? CheckByte::Falsified
                                             : unusedLrc ? CheckByte::Unused
                                                         : CheckByte::Valid);
    lastSentFrame = frame;
    lastSentLength = quint32(frame.size());
    ++exchangeCount;
    dataFromPump = false;
    lastAnswerNamedPump = false;

    if (!open)
        return false;
    // Whatever came in since the last answer was judged (a late check byte, noise, an answer
    // that arrived after its wait had ended) belongs to no command. Kept, it would be taken as
    // this command's answer, and with only readings following every later answer would stay one
    // command late.
    // What the device holds besides: the last answer's stragglers may not have been read yet.
    if (transport->bytesAvailable() > 0 || transport->waitForReadyRead(0))
        lateBytesAtMs = sinceMade.elapsed();
    transport->clearInput();
    receiveBuffer.clear();
    const qint64 written = transport->write(frame);
    const bool flushed = transport->waitForBytesWritten(WriteTimeoutMs);
    // A write the device refuses, or fails while the wait runs, means the line is gone, as when
    // the transport reports it. Bytes still under way when the wait ends are no fault: a
    // pseudo-terminal nobody reads takes its time.
    if (written != frame.size() || (!flushed && !transport->isOpen()))
        deviceLost = true;
    closeIfDeviceLost();
    return written == frame.size() && flushed;
}

void Communication::appendAvailable()
{
    if (!transport->isOpen())
        return;
    const QByteArray chunk = transport->read(ChunkBytes);
    // A zero byte cannot be carried: the chunk counts up to it, the rest is dropped.
    const qsizetype zero = chunk.indexOf('\0');
    receiveBuffer.append(zero < 0 ? chunk : chunk.left(zero));
}

// The wait ends on the bytes' arrival, so an answer is taken as soon as its last byte is there;
// meanwhile the thread sleeps rather than looking at the line every millisecond, which on a busy
// machine would take turns from the threads that carry the bytes to it.
void Communication::waitAndAppend(qint32 waitedMs)
{
    if (!transport->isOpen())
        return;
    // Bytes already buffered count as readable at once.
    const int restMs = std::max(0, AnswerTimeoutMs + 1 - waitedMs);
    if (transport->bytesAvailable() > 0 || transport->waitForReadyRead(restMs))
        appendAvailable();
    closeIfDeviceLost();
}

void Communication::waitForAcknowledge()
{
    tickStart = Platform::tickCount();
    tickElapsed = 0;
    if (!open)
        return;
    appendAvailable();
    for (;;) {
        if (receiveBuffer.contains(Protocol::ACK))
            break;
        if (receiveBuffer.contains(Protocol::NAK) || tickElapsed > AnswerTimeoutMs || !protocolAnswer)
            break;
        // The clock is read before the line: on a busy machine this program may be kept from
        // running for longer than the answer time, and an answer that came meanwhile still counts.
        const qint32 waited = msSince(tickStart);
        waitAndAppend(waited);
        tickElapsed = waited;
    }
}

void Communication::waitForFrame()
{
    tickStart = Platform::tickCount();
    tickElapsed = 0;
    if (!open)
        return;
    appendAvailable();
    auto nakEnds = [this] { return protocolAnswer && receiveBuffer.contains(Protocol::NAK); };
    for (;;) {
        if (receiveBuffer.contains(Protocol::ETX) || nakEnds() || tickElapsed > AnswerTimeoutMs)
            break;
        const qsizetype before = receiveBuffer.size();
        const qint32 waited = msSince(tickStart); // before the line, as for the acknowledgement
        waitAndAppend(waited);
        // Every arrival of bytes restarts the silence timer.
        if (receiveBuffer.size() == before)
            tickElapsed = waited;
        else
            tickStart = Platform::tickCount();
    }
}

QByteArray Communication::readAnswer()
{
    tickStart = Platform::tickCount();
    tickElapsed = 0;
    const qsizetype stx = receiveBuffer.indexOf(Protocol::STX);
    const qsizetype etx = receiveBuffer.indexOf(Protocol::ETX);
    if (stx >= 0 && etx >= 0 && etx == receiveBuffer.size() - 1) {
        if (Protocol::Framing::checkByte(receiveBuffer.mid(stx)) == 0) {
            // The check byte 0 could not be read (chunks end at a zero byte): restore it.
            receiveBuffer.append('\0');
        } else if (open) {
            waitAndAppend(0);
            while (receiveBuffer.size() - 1 == etx) {
                if (tickElapsed > AnswerTimeoutMs)
                    break;
                const qint32 waited = msSince(tickStart);
                waitAndAppend(waited);
                tickElapsed = waited;
            }
        }
    }
    judgeAnswer();
    return lastAnswerData;
}

void Communication::judgeAnswer()
{
    const Protocol::Framing::Verdict verdict =
        Protocol::Framing::judge(receiveBuffer, addressText());
    lastRawAnswer = receiveBuffer;
    answerRecognised = verdict.recognised;
    ackReceived = verdict.ack;
    nakReceived = verdict.nak;
    noAnswer = verdict.nothing;
    if (verdict.nothing)
        addressOnlyAnswer = false;
    if (verdict.frameLength > 0)
        lastAnswerLength = verdict.frameLength;
    // An address-only frame is remembered until an answer with nothing recognisable.
    if (verdict.addressOnly)
        addressOnlyAnswer = true;
    lastAnswerNamedPump = verdict.addressOnly;
    lastAnswerData = verdict.data;
    receiveBuffer.clear();
    // A network port that now has received something has no fault to tell any more.
    publish();
}

PortStatus Communication::statusAfterOpen() const
{
    if (open)
        return PortStatus::open();
    // A network port connects in the background and tells itself what is wrong (lineFault()).
    if (Transport::isNetworkName(chosen))
        return PortStatus::connecting();
    const auto* serial = qobject_cast<const SerialTransport*>(transport.get());
    return PortStatus::afterFailure(PortStatus::locationOf(chosen), serial->error(),
                                    serial->errorText());
}

void Communication::onTransportOpened()
{
    receiveBuffer.clear();
    open = true;
    status = PortStatus::open();
    publish();
    emit lineOpened();
}

void Communication::onTransportLost()
{
    // The transport has let go of the line already; the link follows once the current call
    // (possibly a wait inside an exchange) has returned.
    if (!deviceLost) {
        deviceLost = true;
        QMetaObject::invokeMethod(this, &Communication::closeIfDeviceLost, Qt::QueuedConnection);
    }
}

void Communication::closeIfDeviceLost()
{
    if (!deviceLost)
        return;
    deviceLost = false;
    const bool wasOpen = open;
    open = false;
    if (!wasOpen) {
        publish();
        return;
    }
    status = Transport::isNetworkName(chosen) ? PortStatus::connecting()
                                              : PortStatus::afterLoss(PortStatus::locationOf(chosen));
    publish();
    emit lineLost();
}
