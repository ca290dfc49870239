#pragma once

// nvlogo-cli run as its own program, to its end; the test target defines NVLOGO_CLI_PATH.

#include <QByteArray>
#include <QProcess>
#include <QStringList>

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Waits for a started nvlogo-cli to end (killing it after a minute) and keeps its output.
inline CliRun finishCli(QProcess &process)
{
    CliRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        run.err = "nvlogo-cli did not finish";
        return run;
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

inline CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(NVLOGO_CLI_PATH), arguments);
    return finishCli(process);
}

// The exit status and both outputs, for a failure message.
inline QByteArray transcript(const CliRun &run)
{
    return "exit " + QByteArray::number(run.exitCode) + "\n" + run.out + run.err;
}
