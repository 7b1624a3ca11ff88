#include <iostream>

#include "app/cli.h"

namespace sonvera {

int RunSettingsCommand(const CliContext& ctx)
{
    (void)ctx;
    std::cerr << "sonvera-cli settings: not built yet\n";
    return 1;
}

}  // namespace sonvera
