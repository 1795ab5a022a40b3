#include "mainform.h"

#include "loggingcommandstack.h"

#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The panes are emptied together once the Tx pane holds more lines than this.
constexpr int MaxTxLines = 350;

// Length of an escaped byte in a logged line: "'/NNN'".
constexpr int EscapeTokenLength = 6;

// Text of a part of a logged line, up to its first NUL byte.
QString lineText(const std::string& line, std::size_t from, std::size_t to)
{
    const char* begin = line.data() + from;
    const char* nul = static_cast<const char*>(std::memchr(begin, '\0', to - from));
    return QString::fromUtf8(begin, qsizetype((nul ? nul : line.data() + to) - begin));
}

} // namespace

void mainForm::appendRawLine(QTextEdit* edit, const std::string& line, int offset,
                             const std::vector<BusinessLogic::InvalidReason>& reasons, bool answer)
{
    const std::size_t split = std::min(line.size(), std::size_t(std::max(offset, 0)));
    const QString head = lineText(line, 0, split);
    const QString tail = lineText(line, split, line.size());

    edit->setTextColor(Qt::blue);
    edit->append(head);
    // The tail belongs on the line just begun, wherever a click may have left the cursor.
    edit->moveCursor(QTextCursor::End);
    edit->setTextColor(Qt::black);
    edit->insertPlainText(tail);

    // The check byte, or the ACK/NAK of a short answer, is the last character of the line, or
    // the last escape token when the line ends in one.
    QTextCursor cursor = edit->textCursor();
    const int length = tail.endsWith(QLatin1Char('\'')) ? EscapeTokenLength : 1;
    const auto colourCheckByte = [&cursor, length](Qt::GlobalColor colour) {
        // The end of the block, not of the visual line: a wrapped line keeps its check byte last.
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, length);
        QTextCharFormat format;
        format.setForeground(QColor(colour));
        cursor.mergeCharFormat(format);
    };

    if (reasons.empty()) {
        colourCheckByte(Qt::darkGreen);
        return;
    }
    for (const BusinessLogic::InvalidReason reason : reasons) {
        if (!answer) {
            if (reason == BusinessLogic::InvalidLrc)
                colourCheckByte(Qt::red);
            continue;
        }
        switch (reason) {
        case BusinessLogic::InvalidLrc:
            colourCheckByte(Qt::red);
            break;
        case BusinessLogic::Acknowledged:
            colourCheckByte(Qt::darkGreen);
            break;
        case BusinessLogic::NotAcknowledged:
            colourCheckByte(Qt::magenta);
            break;
        }
        edit->moveCursor(QTextCursor::EndOfWord);
    }
}

void mainForm::displayRawDataTx(std::string* data)
{
    if (!data)
        return;
    appendRawLine(ui.textEditTxData, *data, commandStack->commandTextOffset(), txInvalidReasons,
                  false);
    // Counted in logged lines (blocks), so that the width of the pane does not matter.
    if (ui.textEditTxData->document()->blockCount() > MaxTxLines) {
        ui.textEditTxData->clear();
        ui.textEditRxData->clear();
    }
}

void mainForm::displayRawDataRx(std::string* data)
{
    if (!data)
        return;
    appendRawLine(ui.textEditRxData, *data, commandStack->answerTextOffset(), rxInvalidReasons,
                  true);
}

void mainForm::formatRawDataTxPos(std::vector<int> positions)
{
    txInvalidPositions = std::move(positions);
}

void mainForm::formatRawDataTxReasons(std::vector<BusinessLogic::InvalidReason> reasons)
{
    txInvalidReasons = std::move(reasons);
}

void mainForm::formatRawDataRxPos(std::vector<int> positions)
{
    rxInvalidPositions = std::move(positions);
}

void mainForm::formatRawDataRxReasons(std::vector<BusinessLogic::InvalidReason> reasons)
{
    rxInvalidReasons = std::move(reasons);
}
