#include "dispatch.h"

#include "argumentbytes.h"
#include "exitcodes.h"
#include "generalhelp.h"
#include "graphics.h"
#include "nvimages.h"
#include "options.h"
#include "status.h"

#include <commands/filenames.h>
#include <printer/installedprinters.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <functional>
#include <map>

namespace Cli {

namespace {

int printers(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    int status = ExitSuccess;
    if (!parse(parser, QStringLiteral("printers"), arguments, c, status))
        return status;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("printers takes no arguments."));
    const QStringList names = Printer::installedPrinters();
    if (names.isEmpty())
        print(c.err, QStringLiteral("nvlogo-cli: no printer queue is installed.\n"));
    for (const QString &name : names)
        print(c.out, name + QLatin1Char('\n'));
    return ExitSuccess;
}

} // namespace

int runBytes(const QList<QByteArray> &arguments, std::FILE *out, std::FILE *err)
{
    rememberArguments(arguments);
    QStringList texts;
    for (const QByteArray &argument : arguments)
        texts.append(Commands::pathFromBytes(argument));
    return run(texts, out, err);
}

int run(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    const Context c{out, err};
    if (arguments.isEmpty())
        return usage(c, QStringLiteral("missing command."));
    const QString command = arguments.constFirst();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        print(out, QString::fromLatin1(GeneralHelp));
        return ExitSuccess;
    }
    if (command == QLatin1String("--version")) {
        print(out, QStringLiteral("nvlogo-cli %1\n").arg(QCoreApplication::applicationVersion()));
        return ExitSuccess;
    }
    static const std::map<QString, std::function<int(const QStringList &, const Context &)>>
            commands = {{QStringLiteral("download"), download},
                        {QStringLiteral("print"), printOut},
                        {QStringLiteral("status"), Cli::status},
                        {QStringLiteral("stream"), stream},
                        {QStringLiteral("preview"), preview},
                        {QStringLiteral("printers"), printers},
                        {QStringLiteral("graphics"), graphics}};
    const auto found = commands.find(command);
    if (found == commands.end())
        return usage(c, QStringLiteral("unknown command '%1'.").arg(command));
    return found->second(rest, c);
}

} // namespace Cli
