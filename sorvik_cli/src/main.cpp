// `sorvik`: the companion tool for people. It cleans paths and docker's caches from a terminal
// with the helper's own rules, and writes requests for the helper and reads its results, so what
// the application would do can be previewed, scripted and checked.
#include <fmt/format.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "clean_command.hpp"
#include "command.hpp"
#include "docker_command.hpp"
#include "request_command.hpp"
#include "result_command.hpp"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "Clean paths and docker's caches with the sorvik helper's rules, write requests for the "
      "helper and read its results.",
      "sorvik"};
  app.set_version_flag("--version", "sorvik " SORVIK_VERSION, "Print the version and exit");
  app.require_subcommand(1);
  app.footer(sorvik_cli::kExitStatusHelp);
  sorvik_cli::CommandAction action;
  sorvik_cli::add_clean_command(app, action);
  sorvik_cli::add_docker_command(app, action);
  sorvik_cli::add_request_command(app, action);
  sorvik_cli::add_result_command(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return sorvik_cli::print_out(std::string(version.what()) + "\n", sorvik_cli::kExitSuccess);
  } catch (const CLI::ParseError& error) {
    fmt::print(stderr, "sorvik: {}\nRun with --help for more information.\n", error.what());
    return sorvik_cli::kExitUsage;
  }
  return action ? action() : sorvik_cli::kExitUsage;
}
