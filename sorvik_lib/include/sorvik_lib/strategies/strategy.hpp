// The interface of a managed-cache strategy: a cache owned by another tool, cleaned through that
// tool's own command line. Strategies carry no state; every answer depends only on the arguments
// and on the outside tool. Failures come back as StrategyError values, never as exceptions.
#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sorvik_lib/types/cleanup_option.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::strategies {

enum class ProbeResult : std::uint8_t {
  Available = 0,       // installed and usable with the caller's own rights
  NeedsElevation = 1,  // installed and usable, but only with elevated rights
  Unavailable = 2,     // missing or unusable
};

// The value's name, e.g. "NeedsElevation".
[[nodiscard]] std::string_view to_string(ProbeResult result);

class StrategyError {
 public:
  enum class Kind : std::uint8_t { NotAvailable = 0, CommandFailed = 1, ParseError = 2 };

  [[nodiscard]] static StrategyError not_available(std::string message) {
    return {Kind::NotAvailable, std::move(message)};
  }
  [[nodiscard]] static StrategyError command_failed(std::string message) {
    return {Kind::CommandFailed, std::move(message)};
  }
  [[nodiscard]] static StrategyError parse_error(std::string message) {
    return {Kind::ParseError, std::move(message)};
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] const std::string& message() const { return message_; }
  // The kind's prefix and the message, e.g. "Command failed: docker system df failed".
  [[nodiscard]] std::string display_text() const;

  friend bool operator==(const StrategyError&, const StrategyError&) = default;

 private:
  StrategyError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind_;
  std::string message_;
};

class ManagedCacheStrategy {
 public:
  virtual ~ManagedCacheStrategy() = default;

  // Whether the tool can be used, and with which rights. Never fails.
  [[nodiscard]] virtual ProbeResult probe() const = 0;

  // The cleanups this strategy offers, with what each is expected to free.
  [[nodiscard]] virtual std::expected<std::vector<types::CleanupOption>, StrategyError>
  get_cleanup_options() const = 0;

  // Runs the cleanups named by `options`, in order. Once `stop` (when given) is set, the cleanup
  // at hand is asked to stop and waited for, and it and those not begun are reported "Cancelled"
  // at their pseudo-paths; what was done before stays in the result.
  [[nodiscard]] virtual std::expected<types::CleanResult, StrategyError> execute(
      const std::vector<std::string>& options, const std::atomic<bool>* stop) const = 0;
};

// A fresh instance of the strategy registered under exactly `name` (byte for byte), or nullptr.
[[nodiscard]] std::unique_ptr<ManagedCacheStrategy> get_strategy(std::string_view name);

}  // namespace sorvik_lib::strategies
