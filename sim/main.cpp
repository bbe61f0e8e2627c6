// qzone-sim: serves a scenario on 127.0.0.1 until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "qm/Version.h"
#include "sim/Simulator.h"

namespace {

int Usage() {
    std::fputs("usage: qzone-sim --scenario FILE [--port N] | --demo [--port N] | --version\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenario;
    bool demo = false;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::puts("qzone-sim " QM_VERSION);
            return 0;
        }
        if (arg == "--demo") {
            demo = true;
        } else if (arg == "--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v < 0 || v > 65535) return Usage();
            port = static_cast<int>(v);
        } else {
            return Usage();
        }
    }
    if (scenario.empty() == !demo) return Usage();

    // Block the stop signals before any server thread starts, then wait for one of them here.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<qm::sim::Simulator> sim;
    try {
        sim = demo ? qm::sim::Simulator::Demo() : qm::sim::Simulator::FromFile(scenario);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qzone-sim: %s\n", e.what());
        return 1;
    }
    sim->SetLogging(false);
    const int bound = sim->Start(port);
    if (bound == 0) {
        std::fprintf(stderr, "qzone-sim: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("listening 127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    int sig = 0;
    sigwait(&signals, &sig);
    sim->Stop();
    return 0;
}
