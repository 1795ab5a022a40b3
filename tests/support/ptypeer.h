#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A scripted far end on a real pseudo-terminal: answers each received frame with exactly the
// bytes a test prescribes, so the link's judging can be checked byte by byte.
class PtyPeer
{
public:
    struct Chunk
    {
        QByteArray bytes;
        int delayMs = 0; // pause before these bytes are written
    };
    // Called on the peer's thread for every whole frame (STX .. ETX plus the check byte).
    using Responder = std::function<QList<Chunk>(const QByteArray& frame)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    QString devicePath() const { return path; }
    bool isValid() const { return master >= 0; }

    void setResponder(Responder responder);
    // Convenience responders.
    void answerWith(const QByteArray& bytes);
    void stayQuiet();

    // Writes bytes at once, outside any exchange.
    void sendNow(const QByteArray& bytes);
    // Closes the pseudo-terminal, as if the cable were pulled.
    void unplug();

    QList<QByteArray> receivedFrames() const;
    bool waitForFrames(int count, int timeoutMs) const;
    // Waits until every frame received so far has had its whole reply written, late chunks
    // included, so that nothing of it can still meet a later exchange.
    bool waitUntilReplied(int timeoutMs) const;

    static QByteArray withLrc(const QByteArray& frame); // appends the XOR check byte
    // STX, text, ETX and the check byte.
    static QByteArray frameOf(const QByteArray& text) { return withLrc('\x02' + text + '\x03'); }

private:
    void run();
    void writeAll(const QByteArray& bytes);

    int master = -1;
    int slaveKeepAlive = -1;
    QString path;
    std::thread thread;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    mutable std::condition_variable frameArrived;
    Responder responder;
    QList<QByteArray> frames;
    qsizetype replied = 0; // frames whose reply has been written in full
};
