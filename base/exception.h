#pragma once
#include <stdexcept>
#include <string>

// The program's general error. The message is English text meant for the
// user or the crash report; subsystems derive their own kinds from it.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
