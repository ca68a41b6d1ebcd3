#include "stop_control.h"

#include "command_line.h"

#include <pthread.h>

#include <cstdlib>
#include <thread>

namespace vcomctl {

void StopControl::setIdleStop(std::function<void(int signal)> stop)
{
    std::lock_guard<std::mutex> lock(idleMutex_);
    idleStop_ = std::move(stop);
}

void StopControl::deliver(int signal)
{
    requested_ = signal;
    std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
    if (!busy.owns_lock()) return;  // seen by the run when the command ends
    std::lock_guard<std::mutex> lock(idleMutex_);
    if (idleStop_) idleStop_(signal);
    std::_Exit(kExitSignalBase + signal);
}

StopControl& StopControl::process()
{
    static StopControl control;
    return control;
}

void catchStopSignals()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops] {
        for (;;) {
            int signal = 0;
            if (sigwait(&stops, &signal) == 0) StopControl::process().deliver(signal);
        }
    }).detach();
}

}  // namespace vcomctl
