#include "transport.h"

#include "rfc2217transport.h"
#include "serialtransport.h"
#include "tcptransport.h"

namespace {

const QString RawScheme = QStringLiteral("tcp://");
const QString TelnetScheme = QStringLiteral("rfc2217://");

} // namespace

std::unique_ptr<Transport> Transport::create(const QString& name)
{
    if (name.startsWith(RawScheme, Qt::CaseInsensitive))
        return std::make_unique<TcpTransport>(name);
    if (name.startsWith(TelnetScheme, Qt::CaseInsensitive))
        return std::make_unique<Rfc2217Transport>(name);
    return std::make_unique<SerialTransport>(name);
}

bool Transport::isNetworkName(const QString& name)
{
    return name.startsWith(RawScheme, Qt::CaseInsensitive)
           || name.startsWith(TelnetScheme, Qt::CaseInsensitive);
}
