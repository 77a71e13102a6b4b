// `sorvik request clean PATH... [--keep DIR]...` and `sorvik request docker OPTION...`.
#include "request_command.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "docker_command.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_cli {
namespace {

using sorvik_lib::types::SidecarRequest;

struct RequestOptions {
  std::vector<std::string> paths;
  std::vector<std::string> keep;
  std::vector<std::string> docker_options;
  std::string output_file;
};

int write_request(const SidecarRequest& request, const std::string& output_file) {
  const auto encoded = sorvik_lib::types::encode_request(request);
  if (!encoded) return report_usage_error(encoded.error().message);
  if (output_file.empty()) {
    if (::isatty(STDOUT_FILENO)) {
      return report_usage_error(
          "refusing to write a binary request to a terminal; use -o FILE or a pipe");
    }
    return print_out(*encoded, kExitSuccess);
  }
  const sorvik_lib::sys::UniqueFd file(
      ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!file) {
    return report_usage_error(output_file + ": " +
                              sorvik_lib::sys::SystemError::from_errno().message());
  }
  if (auto written = sorvik_lib::sys::write_all(file.get(), *encoded); !written) {
    return report_usage_error(output_file + ": " + written.error().message());
  }
  return kExitSuccess;
}

}  // namespace

void add_request_command(CLI::App& app, CommandAction& action) {
  auto* request = app.add_subcommand("request", "Write an encoded request for the helper");
  request->require_subcommand(1);
  request->footer(kExitStatusHelp);
  auto options = std::make_shared<RequestOptions>();

  auto* clean = request->add_subcommand("clean", "An elevated clean of absolute PATHs");
  clean->add_option("paths", options->paths, "Paths to delete")->required();
  // One DIR per --keep, so that a path after it is never taken for a second kept root.
  clean->add_option("--keep", options->keep, "A directory to empty rather than remove")
      ->allow_extra_args(false);
  clean->footer(kExitStatusHelp);
  clean->add_option("-o,--output", options->output_file, "Write to FILE instead of stdout");
  clean->callback([options, &action] {
    action = [options] {
      return write_request(
          SidecarRequest(std::in_place_index<0>,
                         sorvik_lib::types::ElevatedCleanRequest{options->paths, options->keep}),
          options->output_file);
    };
  });

  auto* docker = request->add_subcommand("docker", "A managed clean of docker's caches");
  docker
      ->add_option("options", options->docker_options,
                   std::string("Cleanup options: ") + kDockerOptionIds)
      ->required();
  docker->footer(kExitStatusHelp);
  docker->add_option("-o,--output", options->output_file, "Write to FILE instead of stdout");
  docker->callback([options, &action] {
    action = [options] {
      return write_request(
          SidecarRequest(std::in_place_index<1>,
                         sorvik_lib::types::ManagedCleanRequest{"docker", options->docker_options}),
          options->output_file);
    };
  });
}

}  // namespace sorvik_cli
