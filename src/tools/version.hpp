#pragma once
// The version of both programs, taken from the build's project version.
// Thread safety: a constant.
namespace tools {

// "1.2.3".
const char* version();

}  // namespace tools
