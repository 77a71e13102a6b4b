// `sorvik result [FILE] [--json]`.
#include "result_command.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <memory>

#include "result_format.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_cli {
namespace {

struct ResultOptions {
  std::string input_file;
  bool json = false;
};

int print_result(const ResultOptions& options) {
  const bool from_stdin = options.input_file.empty() || options.input_file == "-";
  auto bytes = from_stdin ? sorvik_lib::sys::read_all(STDIN_FILENO)
                          : sorvik_lib::sys::read_file(options.input_file.c_str());
  const std::string source = from_stdin ? "standard input" : options.input_file;
  if (!bytes) return report_usage_error(source + ": " + bytes.error().message());
  if (bytes->empty()) return report_usage_error(source + ": empty, no result to decode");
  auto result = sorvik_lib::types::decode_result(*bytes);
  if (!result) {
    return report_usage_error(
        fmt::format("{}: not an encoded result: {}", source, result.error().message));
  }
  // The helper writes exactly one result; anything after it means the bytes are not what they seem.
  const auto consumed = sorvik_lib::types::encode_result(*result);
  if (consumed && consumed->size() != bytes->size()) {
    return report_usage_error(fmt::format("{}: {} unexpected bytes after the result", source,
                                          bytes->size() - consumed->size()));
  }
  const std::string text =
      options.json ? result_to_json(*result).dump(2) + "\n" : format_result(*result);
  return print_out(text, kExitSuccess);
}

}  // namespace

void add_result_command(CLI::App& app, CommandAction& action) {
  auto options = std::make_shared<ResultOptions>();
  auto* result = app.add_subcommand("result", "Decode an encoded result and print it");
  result->add_option("file", options->input_file, "The encoded result (stdin when absent or -)");
  result->add_flag("--json", options->json, "Print JSON with the record's field names");
  result->footer(kExitStatusHelp);
  result->callback([options, &action] { action = [options] { return print_result(*options); }; });
}

}  // namespace sorvik_cli
