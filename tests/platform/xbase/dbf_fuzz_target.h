// The body of the xBase fuzz harness, shared by the libFuzzer program and the
// regression test that runs a generated corpus of malformed files in the
// normal test suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vigilo {

// Writes dbf (and dbt, when not empty) into a scratch directory, then opens
// the table and exercises every reading role, tags, a query, and the writing
// roles (append, delete, pack). A DbfError is the expected outcome for a
// malformed file; anything else (crash, other exception) is a fault.
// Returns true when the table opened.
bool ExerciseDbfFiles(std::string_view dbf, std::string_view dbt);

// libFuzzer input: 2 bytes (little-endian) giving the .dbf's share of the
// rest, the .dbf bytes, then the .dbt bytes.
bool ExerciseFuzzInput(const uint8_t* data, size_t size);

}  // namespace vigilo
