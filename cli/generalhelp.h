#pragma once

namespace Cli {

// What `nvlogo-cli --help` prints; the start-up program prints it without loading the rest.
inline constexpr char GeneralHelp[] = R"(Usage: nvlogo-cli COMMAND [OPTIONS] [ARGUMENTS]

Stores pictures in an ESC/POS receipt printer's NV memory and test-prints them.

Commands:
  download PICTURE...      store the pictures as NV images 1 to n (one FS q stream)
  print N                  print NV image N and cut the paper (--confirm: ask first)
  status                   ask the printer whether it is ready (paper, cover, errors)
  stream PICTURE... -o F   write the stream a download would send, without sending it
  preview PICTURE... -o D  write each picture as the printer will store it (D/1.png, ...)
  find                     list the printers that are here: USB, serial, print queues,
                           DNS-SD; --scan RANGE also tries the addresses named
  printers                 list the print queues (find, limited to them)
  graphics ACTION          NV graphics by key: define, list, capacity, delete, print
                           (defining one erases the printer's NV bit images)

download, print, status and graphics define|delete|print reach many printers at once
with --ip given more than once or --targets FILE (one printer a line); --jobs N sets
how many at a time (default 8).

Run 'nvlogo-cli COMMAND --help' for a command's options.
)";

} // namespace Cli
