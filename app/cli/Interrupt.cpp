#include "app/cli/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "app/cli/Console.h"

namespace qm::cli {

namespace {

std::atomic<int> g_interrupts{0};

extern "C" void OnInterrupt(int) {
    if (g_interrupts.fetch_add(1) >= 1) {
        static const char kMsg[] = "\ninterrupted\n";
        const ssize_t ignored = write(STDERR_FILENO, kMsg, sizeof kMsg - 1);
        (void)ignored;
        _exit(130);
    }
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
}

int InterruptCount() {
    return g_interrupts.load();
}

void WaitForJob(JobRunner& runner, const std::function<void()>& requestStop) {
    bool stopAsked = false;
    while (runner.Running()) {
        if (!stopAsked && g_interrupts.load() > 0) {
            stopAsked = true;
            requestStop();
        }
        Console::Get().RedrawIfResized();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    runner.Join();
}

}  // namespace qm::cli
