// Any answer bytes for any operation item, status pages included: no crash, no write outside
// the status words, and the status page rule stays consistent with the plain parse.
#include "operationitems.h"

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::vector<std::unique_ptr<GUI::OperationItem>> makeItems()
{
    std::vector<std::unique_ptr<GUI::OperationItem>> items;
    items.push_back(std::make_unique<OperationItemRunMode>());
    items.push_back(std::make_unique<OperationItemTimeElapsed>());
    items.push_back(std::make_unique<OperationItemDispenseTime>());
    items.push_back(std::make_unique<OperationItemVolumeTarget>());
    items.push_back(std::make_unique<OperationItemFlowrate>());
    items.push_back(std::make_unique<OperationItemCommCheck>());
    items.push_back(std::make_unique<OperationItemModelVersion>());
    items.push_back(std::make_unique<OperationItemProtocolAnswer>());
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static auto items = makeItems();
    static OperationItemStatus status;
    const QByteArray answer(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if (data[0] % (items.size() + 1) == items.size()) {
        const qint32 before[7] = {status.getStatus(0), status.getStatus(1), status.getStatus(2),
                                  status.getStatus(3), status.getStatus(4), status.getStatus(5),
                                  status.getStatus(6)};
        status.setAnswer(Answer{8, answer});
        const int page = GUI::statusPageOf(QString::fromUtf8(answer));
        for (int p = 0; p < 7; ++p) {
            const qint32 expected = p == page ? status.getValue() : before[p];
            if (status.getStatus(p) != expected)
                std::abort();
        }
        if (status.getStatus(-1) != 0 || status.getStatus(7) != 0)
            std::abort();
        return 0;
    }
    GUI::OperationItem& item = *items[data[0] % items.size()];
    item.setAnswer(Answer{item.getCommandSpezifier(), answer});
    // A check result is a number of the answer or the "-1" that stands for none.
    if (item.getCommandSpezifier() == 43 && item.getText() != QString::fromUtf8(answer)
        && (item.getValue() != -1 || item.getText() != QLatin1String("-1")))
        std::abort();
    return 0;
}
