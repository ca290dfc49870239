// One status conversation with a printer on loopback that answers at once, through the real
// printer library: opened as the command line opens (no settle) and as the window opens (a
// 100 ms settle), side by side.

#include <tests/support/scriptedpeer.h>

#include <commands/askprinter.h>
#include <commands/printerlink.h>
#include <printer/poslibrary.h>

#include <benchmark/benchmark.h>

namespace {

// DLE EOT n answered "ready", GS I 65 and 67 answered with a firmware and a model.
QByteArray answer(QByteArray &pending)
{
    QByteArray reply;
    while (pending.size() >= 3) {
        const QByteArray command = pending.left(3);
        pending.remove(0, 3);
        if (command.startsWith("\x10\x04"))
            reply.append('\x12');
        else if (command == "\x1d\x49\x43")
            reply.append(QByteArray("\x5f"
                                    "BENCH-80\0",
                                    10));
        else if (command == "\x1d\x49\x41")
            reply.append(QByteArray("\x5f"
                                    "1.00\0",
                                    6));
    }
    return reply;
}

void status(benchmark::State &state, Commands::PrinterLink::Settle settle)
{
    Printer::PosLibrary library(QStringLiteral(NVPOS_LIBRARY));
    ScriptedPeer peer(answer);
    const Printer::Target target
            = Printer::Target::parse(QStringLiteral("ETHERNET ") + peer.ip()).value();
    for (auto _ : state) {
        Commands::PrinterLink link(library, target, settle);
        if (!link.open().ok()) {
            state.SkipWithError("the link did not open");
            return;
        }
        const auto report = Commands::askStatus(link, std::chrono::seconds(5));
        if (!report.ok() || !report.value().model) {
            state.SkipWithError("the printer did not answer");
            return;
        }
        (void)link.close();
    }
}

void BM_StatusAsTheCommandLineOpens(benchmark::State &state)
{
    status(state, Commands::PrinterLink::Settle::No);
}

void BM_StatusAsTheWindowOpens(benchmark::State &state)
{
    status(state, Commands::PrinterLink::Settle::AfterOpen);
}

} // namespace

BENCHMARK(BM_StatusAsTheCommandLineOpens)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StatusAsTheWindowOpens)->Unit(benchmark::kMillisecond)->UseRealTime();
