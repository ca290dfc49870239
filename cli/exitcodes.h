#pragma once

namespace Cli {

// The exit statuses of nvlogo-cli.
constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1; // the command ran and failed; the reason is on standard error
constexpr int ExitUsage = 2;   // the command line was wrong
// The command ran, but the printer is not ready, or it did not confirm what was sent.
constexpr int ExitNotConfirmed = 3;

} // namespace Cli
