#pragma once

#include "framing.h"
#include "portstatus.h"
#include "transport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QSerialPortInfo>

#include <atomic>
#include <memory>
#include <optional>

// The serial line to the pump and everything about its last exchange.
class Communication : public QObject
{
    Q_OBJECT

public:
    // Time limits of one exchange, in milliseconds unless the name says otherwise.
    static constexpr int WriteTimeoutMs = 20;
    static constexpr int AnswerTimeoutMs = 119; // a wait ends once more than this has passed
    static constexpr int ChunkBytes = 20;

    Communication();
    ~Communication() override;

    QByteArray addressText() const;
    // Appends the check byte and puts the frame on the line; false when it did not go out. A write
    // that fails on an open line closes it and emits lineLost().
    bool sendFrame(QByteArray& frame);
    // Each wait ends on its answer, on a NAK, or once the line has been silent too long.
    void waitForAcknowledge();
    void waitForFrame();
    QByteArray readAnswer();

    // What the line is now. The link may run on a thread of its own; these can be asked from
    // any thread, and tell the state as of the link's last open, loss or exchange.
    bool isOpen() const;
    // The device behind the line, as last opened (system location, device path or network
    // address).
    QString portPath() const;
    // What is wrong with the line, when the transport knows: a network port that cannot connect,
    // or that is connected but has received nothing yet.
    QString lineFault() const;
    // The path chosen last, kept after the device went away, and why the line is (not) open.
    QString chosenPath() const;
    PortStatus portStatus() const;
    // Time since bytes were last thrown away that came in after their answer's wait had ended
    // (an answer held back on its way, noise); none when never. From any thread.
    std::optional<qint64> msSinceLateBytes() const;
    // Opens the chosen device again when its file is there; true when the line is open. A
    // network port is left to connect again by itself.
    bool reopen();

signals:
    // The device went away while it was open (adapter unplugged, peer closed); the line is
    // closed now and stays closed until a port is chosen again (a network port connects again
    // by itself).
    void lineLost();
    // A line that opens later than chosen (a network port connecting or reconnecting) is open.
    void lineOpened();

public slots:
    // Both open on the link's own thread: called from another, they return at once and the
    // line opens there (the state accessors then tell how it went).
    void setCommPort(const QSerialPortInfo& info);
    // Opens a device by its path: pseudo-terminals and /dev/serial/by-id links are not reported
    // by the system's port list, so no QSerialPortInfo can describe them.
    void setCommPortPath(const QString& path);

public:
    // Results of the last exchange, read by the commands, the command stack and the window;
    // the link options are written by the link commands.
    bool open = false;
    QByteArray receiveBuffer;
    QByteArray lastAnswerData;
    QByteArray lastRawAnswer;
    QByteArray lastSentFrame;
    bool protocolAnswer = true;
    qint32 address = 0;
    // Set for one exchange with a pump other than the link's own (a search probing the bus):
    // the frame goes there, and its answer is judged by that address.
    std::optional<qint32> probedAddress;
    bool sentLrcValid = true;
    bool answerRecognised = true;
    bool nakReceived = false;
    bool ackReceived = false;
    bool noAnswer = false;
    bool addressOnlyAnswer = false;
    // The answer of the last exchange itself was the address alone: the pump at this address
    // named itself (the answer to the connection check).
    bool lastAnswerNamedPump = false;
    bool invalidLrc = false;
    bool unusedLrc = false;
    quint32 lastAnswerLength = 0;
    quint32 lastSentLength = 0;
    // Frames put on the line (or attempted on a closed one) since the link was made; tells the
    // command stack whether a command exchanged anything with the pump.
    quint64 exchangeCount = 0;
    // The last answer's data came from the pump in a frame whose check byte holds, rather than
    // being a reading's stand-in for a silent, refusing or garbled pump.
    bool dataFromPump = false;

private:
    void openPort(const QString& path);
    void appendAvailable();
    // Waits until bytes can be read, or until the answer time is over for a wait that has run
    // waitedMs, and appends what came.
    void waitAndAppend(qint32 waitedMs);
    void judgeAnswer();
    PortStatus statusAfterOpen() const;
    void onTransportOpened();
    void onTransportLost();
    void closeIfDeviceLost();
    // Copies the line's state for the accessors.
    void publish();

    std::unique_ptr<Transport> transport;
    QSerialPortInfo portInfo;
    quint32 tickStart = 0;
    qint32 tickElapsed = 0;
    bool deviceLost = false;
    QString chosen;
    PortStatus status;

    // The state as last published, for readers on other threads.
    struct State
    {
        bool open = false;
        QString portPath;
        QString lineFault;
        QString chosen;
        PortStatus status;
    };
    mutable QMutex stateLock;
    State published;
    QElapsedTimer sinceMade;
    std::atomic<qint64> lateBytesAtMs{-1};
};
