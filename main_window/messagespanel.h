#pragma once

#include "invalidreason.h"

#include <QGroupBox>

#include <string>
#include <vector>

class QPushButton;
class QTextEdit;

namespace BusinessLogic {
class CommandStack;
} // namespace BusinessLogic

// The communication messages panel: the frames sent (Tx) and received (Rx) as the stack logs
// them, each with its check byte coloured by its judgement, and notes on the line itself.
class MessagesPanel : public QGroupBox
{
    Q_OBJECT

public:
    explicit MessagesPanel(QWidget* parent = nullptr);

    // Ties the panel to its panes and their clear button, which the form builds inside it, and
    // to the stack whose traffic it shows.
    void attach(BusinessLogic::CommandStack* commandStack, QTextEdit* txPane, QTextEdit* rxPane,
                QPushButton* clearButton);

    // A time-stamped line about the link itself in both panes.
    void noteLineEvent(const QString& note, Qt::GlobalColor colour);

public slots:
    void displayRawDataTx(const std::string& data);
    void displayRawDataRx(const std::string& data);
    void formatRawDataRxPos(std::vector<int> positions);
    void formatRawDataRxReasons(std::vector<BusinessLogic::InvalidReason> reasons);
    void formatRawDataTxPos(std::vector<int> positions);
    void formatRawDataTxReasons(std::vector<BusinessLogic::InvalidReason> reasons);

private:
    void connectStack();
    // Writes a line of a pane with its coloured check byte.
    void appendRawLine(QTextEdit* edit, const std::string& line, int offset,
                       const std::vector<BusinessLogic::InvalidReason>& reasons, bool answer);

    BusinessLogic::CommandStack* commandStack = nullptr;
    QTextEdit* txPane = nullptr;
    QTextEdit* rxPane = nullptr;
    std::vector<int> rxInvalidPositions;
    std::vector<BusinessLogic::InvalidReason> rxInvalidReasons;
    std::vector<int> txInvalidPositions;
    std::vector<BusinessLogic::InvalidReason> txInvalidReasons;
};
