#pragma once
// The readers under test take a path, as the product hands them one: each input goes to a
// file in a private folder that lives as long as the fuzzing process.
#include <QString>
#include <cstddef>
#include <cstdint>

namespace krv::fuzz {

// The private folder, without a trailing separator.
QString scratchFolder();

// Writes the input to scratchFolder() + "/" + name (replacing it) and returns that path.
QString writeScratch(const QString& name, const std::uint8_t* data, std::size_t size);

// Stops the process in a way libFuzzer reports as a crash, with the input kept.
[[noreturn]] void fail(const char* what);

} // namespace krv::fuzz
