// What the fuzz targets share: turning the fuzzer's bytes into the text
// arguments of a function, and stopping with a message when a property that
// must hold for every input does not.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace caiji::fuzz {

// The input as up to `count` texts separated by NUL. Bytes are UTF-8, except
// after a leading FF FE: then they are raw UTF-16 units (little-endian), so
// unpaired surrogates reach the functions too. Missing arguments are empty.
QStringList arguments(const uint8_t *data, size_t size, int count);

// Aborts, so that libFuzzer keeps the input, when `ok` is false.
void require(bool ok, const char *property);

} // namespace caiji::fuzz
