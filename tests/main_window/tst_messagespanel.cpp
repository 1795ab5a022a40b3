// The communication messages panel: logged frames from real exchanges with the simulated pump,
// read back from the panes' documents colour by colour.

#include "reply.h"
#include "windowrig.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <memory>
#include <string>

namespace Table = BusinessLogic::CommandTable;

namespace {

QString colourName(const QColor& colour)
{
    static const QList<std::pair<Qt::GlobalColor, QString>> names = {
        {Qt::blue, QStringLiteral("blue")},       {Qt::black, QStringLiteral("black")},
        {Qt::darkGreen, QStringLiteral("darkGreen")}, {Qt::red, QStringLiteral("red")},
        {Qt::magenta, QStringLiteral("magenta")},
    };
    for (const auto& [global, name] : names) {
        if (QColor(global) == colour)
            return name;
    }
    return colour.name();
}

// The colours of a block as runs, e.g. "blue 13, black 18, darkGreen 6".
QString colourRuns(const QTextBlock& block)
{
    QStringList runs;
    QString current;
    int length = 0;
    const auto flush = [&] {
        if (length > 0)
            runs.append(QStringLiteral("%1 %2").arg(current).arg(length));
    };
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QString name = colourName(fragment.charFormat().foreground().color());
        if (name != current) {
            flush();
            current = name;
            length = 0;
        }
        length += fragment.length();
    }
    flush();
    return runs.join(QStringLiteral(", "));
}

QString lastLineRuns(const QTextEdit* edit)
{
    return colourRuns(edit->document()->lastBlock());
}

QString lastLine(const QTextEdit* edit)
{
    return edit->document()->lastBlock().text();
}

// Runs of a line of the given length whose head (time stamp and first gap blank) is blue and
// whose last `marked` characters have the colour of the check.
QString expectedRuns(int headLength, int length, int marked, const QString& markColour)
{
    QStringList runs{QStringLiteral("blue %1").arg(headLength)};
    if (length - headLength - marked > 0)
        runs.append(QStringLiteral("black %1").arg(length - headLength - marked));
    runs.append(QStringLiteral("%1 %2").arg(markColour).arg(marked));
    return runs.join(QStringLiteral(", "));
}

int checkByteLength(const QString& line)
{
    return line.endsWith(u'\'') ? 6 : 1;
}

constexpr int TxHead = 13; // "hh:mm:ss:mmm" and the first of the two gap blanks
constexpr int RxHead = 12; // "hh:mm:ss:mmm"; the gap blank starts the tail

} // namespace

class MessagesPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void workedExample();
    void checkByteColourByAnswer_data();
    void checkByteColourByAnswer();
    void panesAreEmptiedTogether();

private:
    Ui::mainScreen& ui() { return rig->ui(); }
    // Runs one logged command through the real stack and link, and waits for its result (its
    // log lines come before it).
    void exchange(BusinessLogic::CommandSpezifier spezifier, qint32 parameter = 0)
    {
        BusinessLogic::CommandStack::Request request;
        request.command = rig->table.at(spezifier);
        request.parameter = parameter;
        request.logFlag = true;
        BusinessLogic::Reply* reply = rig->stack.submit(request, rig->window.get());
        QTRY_VERIFY(reply->isFinished());
    }

    std::unique_ptr<WindowRig> rig;
};

void MessagesPanelTest::init()
{
    rig = std::make_unique<WindowRig>();
    // The start's exchanges are logged once they are done, on the line's thread.
    QTRY_COMPARE(rig->stack.queuedCount(), 0);
    QCoreApplication::processEvents();
    ui().buttonClearAll->click();
}

void MessagesPanelTest::cleanup()
{
    rig->window->hide();
    rig.reset();
}

void MessagesPanelTest::workedExample()
{
    rig->communication.address = 1;
    rig->pump.setValue("AD", 1);
    exchange(Table::start.spezifier);

    const QString line = lastLine(ui().textEditTxData);
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d\d:\d\d:\d\d:\d\d\d  '/002'01KY1'/003''/035'$)"))
                 .match(line)
                 .hasMatch(),
             qPrintable(line));
    QCOMPARE(lastLineRuns(ui().textEditTxData), QStringLiteral("blue 13, black 18, darkGreen 6"));
    QCOMPARE(ui().textEditTxData->document()->blockCount(), 1);

    QVERIFY(lastLine(ui().textEditRxData).endsWith(QLatin1String(" '/006'")));
    QCOMPARE(lastLineRuns(ui().textEditRxData), QStringLiteral("blue 12, black 1, darkGreen 6"));

    // A click at the top of the pane does not split the next line.
    ui().textEditTxData->moveCursor(QTextCursor::Start);
    exchange(Table::start.spezifier);
    QCOMPARE(ui().textEditTxData->document()->blockCount(), 2);
    QCOMPARE(lastLineRuns(ui().textEditTxData), QStringLiteral("blue 13, black 18, darkGreen 6"));
}

void MessagesPanelTest::checkByteColourByAnswer_data()
{
    QTest::addColumn<BusinessLogic::CommandSpezifier>("command");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("answerPart"); // what the logged answer holds
    QTest::addColumn<QString>("colour");
    QTest::newRow("ACK") << Table::stop.spezifier << "" << " '/006'" << "darkGreen";
    QTest::newRow("NAK") << Table::stop.spezifier << "nak" << " '/021'" << "magenta";
    QTest::newRow("good frame") << Table::getVolume.spezifier << "" << "'/002'" << "darkGreen";
    QTest::newRow("wrong check byte") << Table::getVolume.spezifier << "bad" << "'/003'" << "red";
    // Nothing received fails the check: the blank that ends the line takes the colour.
    QTest::newRow("nothing") << Table::getVolume.spezifier << "silent" << " " << "red";
}

void MessagesPanelTest::checkByteColourByAnswer()
{
    QFETCH(BusinessLogic::CommandSpezifier, command);
    QFETCH(QString, fault);
    QFETCH(QString, answerPart);
    QFETCH(QString, colour);
    rig->pump.modifyFaults([&fault](Simulator::Faults& faults) {
        faults.nakAll = fault == QLatin1String("nak");
        faults.badCheckByte = fault == QLatin1String("bad");
        faults.silent = fault == QLatin1String("silent");
    });
    exchange(command);

    const QString tx = lastLine(ui().textEditTxData);
    QCOMPARE(lastLineRuns(ui().textEditTxData),
             expectedRuns(TxHead, int(tx.size()), checkByteLength(tx), QStringLiteral("darkGreen")));

    const QString rx = lastLine(ui().textEditRxData);
    if (fault == QLatin1String("silent")) {
        // Only the time stamp and the blank of the gap: the blank takes the colour.
        QCOMPARE(rx.size(), RxHead + 1);
        QVERIFY(rx.endsWith(u' '));
    } else {
        QVERIFY2(rx.size() > RxHead + 2, qPrintable(rx));
    }
    QVERIFY2(rx.contains(answerPart), qPrintable(rx));
    QCOMPARE(lastLineRuns(ui().textEditRxData),
             expectedRuns(RxHead, int(rx.size()), checkByteLength(rx), colour));
}

void MessagesPanelTest::panesAreEmptiedTogether()
{
    std::string line = "09:05:03:007  01?DV";
    emit rig->stack.sendLastAnswer(line);
    QVERIFY(!ui().textEditRxData->toPlainText().isEmpty());
    // The Tx pane fills up with lines until it is emptied; the Rx pane goes with it.
    int lines = 0;
    do {
        emit rig->stack.sendLastCommand(line);
    } while (!ui().textEditTxData->toPlainText().isEmpty() && ++lines < 1000);
    QVERIFY(lines < 1000);
    QCOMPARE(ui().textEditRxData->toPlainText(), QString());
}

QTEST_MAIN(MessagesPanelTest)
#include "tst_messagespanel.moc"
