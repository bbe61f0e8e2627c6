// quillmoss-cli: the terminal front end (see `quillmoss-cli --help`).
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "net/URLSource2.h"

int main(int argc, char** argv) {
    qm::URLSource2Init();  // before any thread starts
    std::vector<std::string> words(argv + 1, argv + argc);
    return qm::cli::RunCli(words);
}
