// varnelo-reader's help, in the user's language, laid out for a console 80 columns wide.
#pragma once
#include <string>

namespace pcsc {

// The whole help, or, for a command, what that command and its options do.
std::string Help(const std::string& command = "");

} // namespace pcsc
