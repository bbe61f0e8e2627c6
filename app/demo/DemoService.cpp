#include "app/demo/DemoService.h"

#include <httplib.h>

#include <exception>

#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace qm::demo {

std::unique_ptr<DemoService> DemoService::Start(std::string& error) {
    std::unique_ptr<DemoService> service(new DemoService);
    try {
        service->sim_ = sim::Simulator::Demo();
    } catch (const std::exception& e) {
        error = std::string("the demo scenario is unusable: ") + e.what();
        return nullptr;
    }
    if (service->sim_->Start(0) == 0) {
        error = "the simulator could not start on 127.0.0.1";
        return nullptr;
    }
    // Wait for one answer: the server's loop then runs, and stopping it at the end works.
    httplib::Client probe("127.0.0.1", service->sim_->Port());
    probe.set_connection_timeout(2);
    probe.Get("/");
    SetConnectTo(service->sim_->ConnectTo());
    return service;
}

DemoService::~DemoService() {
    if (sim_) sim_->Stop();
}

std::string DemoService::ConnectTo() const {
    return sim_->ConnectTo();
}

}  // namespace qm::demo
