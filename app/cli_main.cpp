// quillmoss-cli: the terminal front end (see `quillmoss-cli --help`).
#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/Session.h"
#include "app/demo/DemoService.h"
#include "net/URLSource2.h"

int main(int argc, char** argv) {
    // Up to 15 transfers run at once: an allocator arena for each of their threads would keep every
    // thread's freed picture buffers resident. Two arenas hold the peak memory down at no cost in speed.
    mallopt(M_ARENA_MAX, 2);
    qm::URLSource2Init();  // before any thread starts
    qm::cli::SetDemoStarter([](std::string& error) {
        std::shared_ptr<qm::demo::DemoService> service = qm::demo::DemoService::Start(error);
        if (!service) return qm::cli::DemoHandle{};
        return qm::cli::DemoHandle{service, service->ConnectTo()};
    });
    std::vector<std::string> words(argv + 1, argv + argc);
    return qm::cli::RunCli(words);
}
