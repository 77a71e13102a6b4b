// Ctrl-C and SIGTERM only raise the tool's flag while its handlers are installed.
#include "interrupt_signals.hpp"

#include <gtest/gtest.h>
#include <signal.h>

namespace sorvik_cli {
namespace {

void (*current_handler(int signal))(int) {
  struct sigaction now {};
  ::sigaction(signal, nullptr, &now);
  return now.sa_handler;
}

TEST(InterruptSignals, EachSignalOnlyRaisesTheFlagUntilTheHandlersGo) {
  for (const int signal : {SIGINT, SIGTERM}) {
    {
      auto signals = InterruptSignals::install();
      ASSERT_TRUE(signals.has_value()) << signals.error().message();
      EXPECT_FALSE(signals->flag().load());
      // Delivered to this thread before raise() returns; the process lives on.
      ASSERT_EQ(::raise(signal), 0);
      EXPECT_TRUE(signals->flag().load()) << signal;
      // A moved-from object restores nothing; the last owner does.
      const InterruptSignals moved = std::move(*signals);
      EXPECT_NE(current_handler(signal), SIG_DFL);
    }
    EXPECT_EQ(current_handler(signal), SIG_DFL) << signal;
  }
  // Installed again, the flag starts lowered.
  const auto again = InterruptSignals::install();
  ASSERT_TRUE(again.has_value());
  EXPECT_FALSE(again->flag().load());
}

}  // namespace
}  // namespace sorvik_cli
