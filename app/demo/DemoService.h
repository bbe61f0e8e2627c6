// --demo for both programs: the built-in simulator serving the compiled-in demo scenario on a free
// loopback port, with every connection of this process routed to it. Only the programs link this
// (and with it the simulator's server); the product libraries do not.
#pragma once

#include <memory>
#include <string>

namespace qm::sim {
class Simulator;
}

namespace qm::demo {

class DemoService {
public:
    // Starts the simulator and routes connections to it; null with `error` set when it cannot.
    static std::unique_ptr<DemoService> Start(std::string& error);
    ~DemoService();
    DemoService(const DemoService&) = delete;
    DemoService& operator=(const DemoService&) = delete;

    // "127.0.0.1:PORT".
    std::string ConnectTo() const;

private:
    DemoService() = default;
    std::unique_ptr<sim::Simulator> sim_;
};

}  // namespace qm::demo
