// kvq-host: a stand-in for the host application, to try a plug-in library
// without it. See kvq-host --help.
#include "lib/cli.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kvqhost::runTool(args, std::cout, std::cerr);
}
