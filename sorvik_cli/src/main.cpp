// `sorvik`: the companion tool for people. It writes requests for the helper and reads its
// results, so what the application would send and get back can be seen and scripted.
#include <fmt/format.h>

#include <csignal>
#include <cstdio>

#include "command.hpp"
#include "request_command.hpp"
#include "result_command.hpp"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{"Write requests for the sorvik helper and read its results.", "sorvik"};
  app.require_subcommand(1);
  sorvik_cli::CommandAction action;
  sorvik_cli::add_request_command(app, action);
  sorvik_cli::add_result_command(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    fmt::print(stderr, "sorvik: {}\nRun with --help for more information.\n", error.what());
    return sorvik_cli::kExitUsage;
  }
  return action ? action() : sorvik_cli::kExitUsage;
}
