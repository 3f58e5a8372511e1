#include "cli/App.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/EvalCommand.h"
#include "cli/ImportCommand.h"
#include "cli/RunReport.h"
#include "cli/SniffCommand.h"
#include "text/Qel2TXT.h"

namespace qel::cli {

namespace {

// Standard error when it is a terminal, with its width; otherwise nowhere.
ProgressTarget TerminalProgress(std::ostream& err) {
    ProgressTarget target;
    if (&err != &std::cerr || !isatty(STDERR_FILENO)) return target;
    target.Stream = &err;
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) target.Columns = size.ws_col;
    return target;
}

}  // namespace

int RunQel(int argc, const char* const* argv, std::istream& in, std::ostream& out,
           std::ostream& err) {
    CLI::App app("Loads large text files such as web-server access logs into SQLite tables.",
                 "qel");
    app.require_subcommand(1);
    app.fallthrough(false);

    ImportOptions importOptions;
    const TQelFromText defaults;
    CLI::App* import = app.add_subcommand(
        "import",
        "Import SOURCE into a table of the SQLite file or PostgreSQL database DATABASE. "
        "Exit status: 0 "
        "executed, 1 failed or an "
        "error before the run, 2 usage error, 3 canceled (Ctrl-C).");
    RegisterImportOptions(*import, importOptions, defaults);

    EvalOptions evalOptions;
    CLI::App* eval = app.add_subcommand(
        "eval",
        "Evaluate an expression without a source and print its kind and value separated by a tab.");
    eval->add_option(
            "--define", evalOptions.Defines,
            "User function 'F(x)=BODY', added before evaluation; repeatable (default: none)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    eval->add_option("--decimal-separator", evalOptions.DecimalSeparator,
                     "Decimal separator of numbers in the expression (default: " +
                         CharacterText(DefaultFormatSettings().DecimalSeparator) + ")");
    eval->add_option("EXPR", evalOptions.Expression, "The expression")->required();

    SniffOptions sniffOptions;
    CLI::App* sniff = app.add_subcommand(
        "sniff",
        "Look at the first lines of FILE: name its log format (or its delimiter, qualifier, "
        "header and column types), print the qel import command that would load it and a "
        "preview of its first rows.");
    sniff->add_option("FILE", sniffOptions.Source, "The file to look at, or - for standard input")
        ->required();
    sniff->add_option("--rows", sniffOptions.Rows, "Rows in the preview (default: 5)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        // --help after a command shows that command's help.
        const CLI::App* shown = import->parsed()  ? import
                                : eval->parsed()  ? eval
                                : sniff->parsed() ? sniff
                                                  : &app;
        out << (shown == &app ? app.help() : shown->help("qel"));
        return esExecuted;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return esExecuted;
    } catch (const CLI::ParseError& e) {
        err << "qel: " << e.what() << '\n' << "Run with --help for more information.\n";
        return esUsage;
    }

    if (import->parsed()) return RunImport(importOptions, in, out, err, TerminalProgress(err));
    if (sniff->parsed()) return RunSniff(sniffOptions, in, out, err);
    return RunEval(evalOptions, out, err);
}

}  // namespace qel::cli
