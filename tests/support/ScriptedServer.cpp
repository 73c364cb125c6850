#include "ScriptedServer.h"

#include <stdexcept>

void ScriptedServer::accept(std::chrono::milliseconds deadline) {
    client = listener.accept(deadline);
    if (!client)
        throw std::runtime_error(std::string(serverName) + ": no client connected");
}

std::string ScriptedServer::readFor(std::chrono::milliseconds window) { return client->readFor(window); }

bool ScriptedServer::clientClosed(std::chrono::milliseconds deadline) { return client->waitForClose(deadline); }

void ScriptedServer::dropClient() { client.reset(); }
