#pragma once

// What the fuzz targets share: a scratch folder on a memory file system and quick writes to it,
// so that the disk stays off the hot path.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string_view>

namespace pontix::fuzz {

// A folder of this process's own, on tmpfs when the machine has one ($PONTIX_FUZZ_DIR when
// set), removed with everything in it when the process exits normally.
const std::filesystem::path& scratch();

// Replaces the file's contents with bytes. Any failure ends the process: it is the harness's
// fault, not the input's.
void put(const std::filesystem::path& file, std::string_view bytes);

// Removes the file if it is there.
void drop(const std::filesystem::path& file);

inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Prints the text of an expected error when $PONTIX_FUZZ_TRAZA is set, to see what the seeds
// reach (run the target on single files); says nothing otherwise.
void note(const std::exception& e);

// Stops the run with a message when an expectation of the harness does not hold: libFuzzer
// then keeps the input as a crash.
[[noreturn]] void fail(const char* what);
inline void expect(bool condition, const char* what) {
  if (!condition) fail(what);
}

}  // namespace pontix::fuzz
