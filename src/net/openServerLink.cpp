#include "net/openServerLink.h"

#include "frame/Log.h"
#include "net/ServerAddress.h"

bool openServerLink(Connection& connection, const std::string& host, std::int32_t port, const LinkLogTexts& texts) {
    const ServerAddress server = ServerAddress::resolve(host, port);
    if (server.outcome == ServerAddress::Outcome::NameNotFound) {
        logMessage(Error, "Can not resolve name \"" + host + "\"");
        logMessage(Error, std::string(texts.resolverCaller) + ": gethostbyname(3) failed: " + server.resolverError);
        return false;
    }
    if (connection.certificatesUnchecked())
        logMessage(Warning, std::string(texts.caller) + ": " + texts.verifyKey + " is no: the " + texts.peer +
                                "'s certificate is not checked");
    if (connection.Connect(server) != 0) {
        logMessage(Error, std::string(texts.caller) + ": cann't connect to requested address");
        return false;
    }
    return true;
}
