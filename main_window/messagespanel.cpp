#include "messagespanel.h"

#include "commandstack.h"
#include "loggingcommandstack.h"
#include "platform.h"

#include <QPushButton>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace {

// The panes are emptied together once the Tx pane holds more lines than this.
constexpr int MaxTxLines = 350;
// Lines each pane keeps at the most.
constexpr int TxRxLineLimit = 500;

// Length of an escaped byte in a logged line: "'/NNN'".
constexpr int EscapeTokenLength = 6;

// Text of a part of a logged line, up to its first NUL byte.
QString lineText(const std::string& line, std::size_t from, std::size_t to)
{
    const char* begin = line.data() + from;
    const char* nul = static_cast<const char*>(std::memchr(begin, '\0', to - from));
    return QString::fromUtf8(begin, qsizetype((nul ? nul : line.data() + to) - begin));
}

// A new line of a pane: its head in blue, then its tail in the given colour.
void appendLine(QTextEdit* edit, const QString& head, const QString& tail,
                Qt::GlobalColor tailColour)
{
    edit->setTextColor(Qt::blue);
    edit->append(head);
    // The tail belongs on the line just begun, wherever a click may have left the cursor.
    edit->moveCursor(QTextCursor::End);
    edit->setTextColor(tailColour);
    edit->insertPlainText(tail);
}

// Colours the last `length` characters of the cursor's block.
void colourLineEnd(QTextCursor& cursor, int length, Qt::GlobalColor colour)
{
    // The end of the block, not of the visual line: a wrapped line keeps its check byte last.
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, length);
    QTextCharFormat format;
    format.setForeground(QColor(colour));
    cursor.mergeCharFormat(format);
}

// Colour of the check byte of an answer by one reason the stack gave for it.
std::optional<Qt::GlobalColor> answerMarkColour(BusinessLogic::InvalidReason reason)
{
    switch (reason) {
    case BusinessLogic::InvalidLrc: return Qt::red;
    case BusinessLogic::Acknowledged: return Qt::darkGreen;
    case BusinessLogic::NotAcknowledged: return Qt::magenta;
    }
    return std::nullopt;
}

} // namespace

MessagesPanel::MessagesPanel(QWidget* parent) : QGroupBox(parent) {}

void MessagesPanel::attach(BusinessLogic::CommandStack* commandStack, QTextEdit* txPane,
                           QTextEdit* rxPane, QPushButton* clearButton)
{
    this->commandStack = commandStack;
    this->txPane = txPane;
    this->rxPane = rxPane;
    connectStack();
    connect(clearButton, &QPushButton::clicked, rxPane, &QTextEdit::clear);
    connect(clearButton, &QPushButton::clicked, txPane, &QTextEdit::clear);
    txPane->document()->setMaximumBlockCount(TxRxLineLimit);
    rxPane->document()->setMaximumBlockCount(TxRxLineLimit);
}

void MessagesPanel::connectStack()
{
    using Stack = BusinessLogic::CommandStack;
    connect(commandStack, &Stack::sendLastCommandInvalidPositions, this,
            &MessagesPanel::formatRawDataTxPos);
    connect(commandStack, &Stack::sendLastCommandInvalidReasons, this,
            &MessagesPanel::formatRawDataTxReasons);
    connect(commandStack, &Stack::sendLastAnswerInvalidPositions, this,
            &MessagesPanel::formatRawDataRxPos);
    connect(commandStack, &Stack::sendLastAnswerInvalidReasons, this,
            &MessagesPanel::formatRawDataRxReasons);
    connect(commandStack, &Stack::sendLastCommand, this, &MessagesPanel::displayRawDataTx);
    connect(commandStack, &Stack::sendLastAnswer, this, &MessagesPanel::displayRawDataRx);
}

void MessagesPanel::noteLineEvent(const QString& note, Qt::GlobalColor colour)
{
    const std::string stamp = BusinessLogic::LoggingCommandStack::formatLine(
        Platform::systemTimeUtc(), BusinessLogic::LoggingCommandStack::CommandGap, QByteArray());
    for (QTextEdit* edit : {txPane, rxPane})
        appendLine(edit, QString::fromStdString(stamp), note, colour);
}

void MessagesPanel::appendRawLine(QTextEdit* edit, const std::string& line, int offset,
                                  const std::vector<BusinessLogic::InvalidReason>& reasons,
                                  bool answer)
{
    const std::size_t split = std::min(line.size(), std::size_t(std::max(offset, 0)));
    const QString tail = lineText(line, split, line.size());
    appendLine(edit, lineText(line, 0, split), tail, Qt::black);

    // The check byte, or the ACK/NAK of a short answer, is the last character of the line, or
    // the last escape token when the line ends in one.
    QTextCursor cursor = edit->textCursor();
    const int length = tail.endsWith(QLatin1Char('\'')) ? EscapeTokenLength : 1;
    if (reasons.empty()) {
        colourLineEnd(cursor, length, Qt::darkGreen);
        return;
    }
    for (const BusinessLogic::InvalidReason reason : reasons) {
        if (!answer) {
            if (reason == BusinessLogic::InvalidLrc)
                colourLineEnd(cursor, length, Qt::red);
            continue;
        }
        if (const std::optional<Qt::GlobalColor> colour = answerMarkColour(reason))
            colourLineEnd(cursor, length, *colour);
        edit->moveCursor(QTextCursor::EndOfWord);
    }
}

void MessagesPanel::displayRawDataTx(const std::string& data)
{
    appendRawLine(txPane, data, commandStack->commandTextOffset(), txInvalidReasons, false);
    // Counted in logged lines (blocks), so that the width of the pane does not matter.
    if (txPane->document()->blockCount() > MaxTxLines) {
        txPane->clear();
        rxPane->clear();
    }
}

void MessagesPanel::displayRawDataRx(const std::string& data)
{
    appendRawLine(rxPane, data, commandStack->answerTextOffset(), rxInvalidReasons, true);
}

void MessagesPanel::formatRawDataTxPos(std::vector<int> positions)
{
    txInvalidPositions = std::move(positions);
}

void MessagesPanel::formatRawDataTxReasons(std::vector<BusinessLogic::InvalidReason> reasons)
{
    txInvalidReasons = std::move(reasons);
}

void MessagesPanel::formatRawDataRxPos(std::vector<int> positions)
{
    rxInvalidPositions = std::move(positions);
}

void MessagesPanel::formatRawDataRxReasons(std::vector<BusinessLogic::InvalidReason> reasons)
{
    rxInvalidReasons = std::move(reasons);
}
