#include "dispatch.h"

#include "argumentbytes.h"
#include "exitcodes.h"
#include "find.h"
#include "generalhelp.h"
#include "graphics.h"
#include "nvimages.h"
#include "options.h"
#include "status.h"

#include <commands/filenames.h>

#include <QCoreApplication>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

namespace Cli {

namespace {

// The edits that turn one word into the other (Levenshtein).
int distance(const QString &a, const QString &b)
{
    std::vector<int> row(size_t(b.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            row[size_t(j)] = std::min({above + 1,
                                       row[size_t(j - 1)] + 1,
                                       diagonal + (a.at(i - 1) == b.at(j - 1) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

// " (did you mean 'download'?)" for a command two edits or fewer away from one.
QString suggestion(const QString &typed, const QStringList &known)
{
    for (const QString &command : known) {
        if (distance(typed, command) <= 2)
            return QStringLiteral(" (did you mean '%1'?)").arg(command);
    }
    return {};
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
                        {QStringLiteral("find"), find},
                        {QStringLiteral("printers"), printers},
                        {QStringLiteral("graphics"), graphics}};
    const auto found = commands.find(command);
    if (found == commands.end()) {
        QStringList known;
        for (const auto &entry : commands)
            known.append(entry.first);
        return usage(
                c,
                QStringLiteral("unknown command '%1'%2.").arg(command, suggestion(command, known)));
    }
    return found->second(rest, c);
}

} // namespace Cli
