// A log sink for tests: raises the facade to Info, keeps every record, and puts the facade back
// to "off" with no sink when it goes.
#pragma once

#include <string>
#include <vector>

#include "sorvik_lib/log/log.hpp"

namespace sorvik_test {

struct CapturedRecord {
  sorvik_lib::log::Level level;
  std::string target;
  std::string file;
  std::string message;
};

class LogCapture final : public sorvik_lib::log::Sink {
 public:
  explicit LogCapture(sorvik_lib::log::Level level = sorvik_lib::log::Level::Info) {
    sorvik_lib::log::set_sink(this);
    sorvik_lib::log::set_max_level(level);
  }
  ~LogCapture() override {
    sorvik_lib::log::set_max_level(sorvik_lib::log::Level::Off);
    sorvik_lib::log::set_sink(nullptr);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void write(const sorvik_lib::log::Record& record) override {
    records_.push_back({record.level, std::string(record.target), std::string(record.file),
                        std::string(record.message)});
  }

  [[nodiscard]] const std::vector<CapturedRecord>& records() const { return records_; }

  // The messages alone, in order.
  [[nodiscard]] std::vector<std::string> messages() const {
    std::vector<std::string> messages;
    for (const auto& record : records_) messages.push_back(record.message);
    return messages;
  }

 private:
  std::vector<CapturedRecord> records_;
};

}  // namespace sorvik_test
