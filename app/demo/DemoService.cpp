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
        error = std::string("演示场景无法使用: ") + e.what();
        return nullptr;
    }
    if (service->sim_->Start(0) == 0) {
        error = "模拟服务无法在 127.0.0.1 上启动";
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
