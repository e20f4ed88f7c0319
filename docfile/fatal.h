#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace punb {

// A condition that ends the run. `message` is the fixed text for standard output (printed
// without a line end); `detail` is one line for standard error naming what went wrong and,
// where it helps, the file and line.
class Fatal : public std::runtime_error {
 public:
  Fatal(std::string message, std::string detail)
      : std::runtime_error(message), message_(std::move(message)), detail_(std::move(detail)) {}

  const std::string& message() const { return message_; }
  const std::string& detail() const { return detail_; }

 private:
  std::string message_;
  std::string detail_;
};

// Messages shared by several steps.
inline constexpr const char* kCannotReadTrainingSet = "can not read training set";
inline constexpr const char* kCannotReadTestSet = "can not read test set";
inline constexpr const char* kCannotWriteResult = "can not write prob_result.txt";
inline constexpr const char* kWriteErrorNewFile = "write error new file";
inline constexpr const char* kTestFormatError = "test set: Data Format Error!!!";

}  // namespace punb
