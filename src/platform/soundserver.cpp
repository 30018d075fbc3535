#include "platform/soundserver.h"

#include <mutex>

namespace platform {
namespace {
std::mutex serverLock;
std::unique_ptr<SoundServer> current;
} // namespace

SoundServer& Server()
{
    std::lock_guard<std::mutex> guard(serverLock);
    if (!current)
        current = CreatePulseServer();
    return *current;
}

void SetServer(std::unique_ptr<SoundServer> server)
{
    std::lock_guard<std::mutex> guard(serverLock);
    current = std::move(server);
}

void ResetServer()
{
    std::unique_ptr<SoundServer> old;
    {
        std::lock_guard<std::mutex> guard(serverLock);
        old = std::move(current);
    }
}

} // namespace platform
