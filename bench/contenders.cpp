// Running and checking one contender.
#include "contenders.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include <vector>

#include "child_run.hpp"
#include "file_io.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_bench {
namespace {

using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ElevatedCleanRequest;
using sorvik_lib::types::SidecarRequest;

std::string join(const std::vector<std::string>& parts) {
  std::string joined;
  for (const auto& part : parts) {
    if (part.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += part;
  }
  return joined;
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// Runs one child and adds its time; a failure to start or a bad status becomes a problem.
void run_step(const std::string& label, const ChildLaunch& launch, RunOutcome& outcome,
              std::vector<std::string>& problems) {
  const auto ran = run_child(launch);
  if (!ran) {
    problems.push_back(fmt::format("{} could not be run: {}", label, ran.error().message()));
    return;
  }
  outcome.seconds += ran->seconds;
  if (!ran->status.success()) {
    problems.push_back(fmt::format("{} ended with {}", label, ran->status.to_string()));
  }
}

}  // namespace

std::string_view contender_label(Contender contender) {
  switch (contender) {
    case Contender::DuThenRm:
      return "du -sb && rm -rf";
    case Contender::Rm:
      return "rm -rf";
    case Contender::FindDelete:
      return "find -delete";
    case Contender::Helper:
      return "sorvik_helper";
    case Contender::PortableHelper:
      return "portable helper";
  }
  return "?";
}

std::vector<Contender> contenders_of(const Tools& tools) {
  std::vector<Contender> contenders = {Contender::DuThenRm, Contender::Rm, Contender::FindDelete,
                                       Contender::Helper};
  if (tools.portable_helper) contenders.push_back(Contender::PortableHelper);
  return contenders;
}

const std::string& helper_of(const Tools& tools, Contender contender) {
  return contender == Contender::PortableHelper ? *tools.portable_helper : tools.helper;
}

std::expected<Tools, std::string> find_tools(const std::string& helper, const std::string& floor,
                                             const std::string& portable_helper) {
  Tools tools;
  const std::pair<std::string*, const char*> wanted[] = {{&tools.du, "du"},
                                                         {&tools.rm, "rm"},
                                                         {&tools.find, "find"},
                                                         {&tools.cat, "cat"},
                                                         {&tools.xargs, "xargs"}};
  for (const auto& [slot, name] : wanted) {
    auto found = find_program(name);
    if (!found) return std::unexpected(fmt::format("{} not found on PATH", name));
    *slot = *found;
  }
  auto found_helper = find_program(helper);
  if (!found_helper) return std::unexpected(fmt::format("helper {} is not executable", helper));
  tools.helper = *found_helper;
  auto found_floor = find_program(floor);
  if (!found_floor) return std::unexpected(fmt::format("{} is not executable", floor));
  tools.floor = *found_floor;
  if (!portable_helper.empty()) {
    tools.portable_helper = find_program(portable_helper);
    if (!tools.portable_helper) {
      return std::unexpected(fmt::format("portable helper {} is not executable", portable_helper));
    }
  }
  tools.strace = find_program("strace");
  return tools;
}

std::string request_for(const std::string& tree) {
  ElevatedCleanRequest request;
  request.paths.push_back(tree);
  auto encoded = sorvik_lib::types::encode_request(SidecarRequest(std::move(request)));
  return encoded ? std::move(*encoded) : std::string();
}

std::string check_helper_result(std::string_view output, const std::string& tree,
                                std::uint64_t counted_bytes) {
  const auto result = sorvik_lib::types::decode_result(output);
  if (!result) return "the helper's output is not a result: " + result.error().message;
  const auto reencoded = sorvik_lib::types::encode_result(*result);
  if (!reencoded) return "the helper's result holds a path that is not valid UTF-8";
  if (reencoded->size() != output.size()) {
    return fmt::format("the helper wrote {} bytes beyond its result",
                       output.size() - reencoded->size());
  }
  std::vector<std::string> problems;
  if (result->removed != std::vector<std::string>{tree}) {
    problems.push_back(
        fmt::format("removed lists {} paths, not the tree alone", result->removed.size()));
  }
  if (!result->errors.empty()) {
    problems.push_back(fmt::format("{} error entries, the first: {}: {}", result->errors.size(),
                                   result->errors.front().path, result->errors.front().message));
  }
  if (result->bytesFreed != counted_bytes) {
    problems.push_back(
        fmt::format("bytesFreed {} but the files hold {}", result->bytesFreed, counted_bytes));
  }
  return join(problems);
}

RunOutcome run_contender(Contender contender, const Tools& tools, const RunSetup& setup) {
  RunOutcome outcome;
  std::vector<std::string> problems;
  ChildLaunch launch;
  launch.open_files_limit = setup.open_files_limit;
  switch (contender) {
    case Contender::DuThenRm: {
      launch.arguments = {tools.du, "-sb", setup.tree};
      run_step("du -sb", launch, outcome, problems);
      if (problems.empty()) {
        launch.arguments = {tools.rm, "-rf", setup.tree};
        run_step("rm -rf", launch, outcome, problems);
      }
      break;
    }
    case Contender::Rm:
      launch.arguments = {tools.rm, "-rf", setup.tree};
      run_step("rm -rf", launch, outcome, problems);
      break;
    case Contender::FindDelete:
      launch.arguments = {tools.find, setup.tree, "-delete"};
      run_step("find -delete", launch, outcome, problems);
      break;
    case Contender::Helper:
    case Contender::PortableHelper: {
      launch.input_path = setup.work + "/request";
      launch.output_path = setup.work + "/result";
      launch.error_path = setup.work + "/errors";
      if (auto written = write_file(launch.input_path, request_for(setup.tree)); !written) {
        problems.push_back("the request could not be written: " + written.error().message());
        break;
      }
      launch.arguments = {helper_of(tools, contender)};
      run_step("the helper", launch, outcome, problems);
      if (!problems.empty()) break;
      const auto output = sorvik_lib::sys::read_file(launch.output_path.c_str());
      const auto errors = sorvik_lib::sys::read_file(launch.error_path.c_str());
      if (!output) {
        problems.push_back("the helper's output could not be read: " + output.error().message());
        break;
      }
      if (errors && !errors->empty()) {
        problems.push_back(
            fmt::format("the helper wrote {} bytes to standard error", errors->size()));
      }
      problems.push_back(check_helper_result(*output, setup.tree, setup.counted_bytes));
      break;
    }
  }
  if (exists(setup.tree)) {
    problems.insert(
        problems.begin(),
        fmt::format("{} did not remove the tree",
                    contender == Contender::Helper ? "helper" : contender_label(contender)));
  }
  outcome.problem = join(problems);
  return outcome;
}

}  // namespace sorvik_bench
