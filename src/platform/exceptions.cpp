#include "platform/exceptions.h"

#include <utility>

RuntimeException::RuntimeException(std::string message, int errorNumber)
    : std::runtime_error(message), ErrorNumber(errorNumber), Message(std::move(message)) {}

RuntimeException::~RuntimeException() = default;
NilObjectException::~NilObjectException() = default;
IOException::~IOException() = default;
JSONException::~JSONException() = default;
KeyNotFoundException::~KeyNotFoundException() = default;
OutOfBoundsException::~OutOfBoundsException() = default;
ThreadAccessingUIException::~ThreadAccessingUIException() = default;

std::string DescribeException(const RuntimeException& e) {
  std::string line = std::string(e.ClassName()) + " " + std::to_string(e.ErrorNumber) + ": " + e.Message;
  if (!e.Context.empty()) line += " (" + e.Context + ")";
  return line;
}
