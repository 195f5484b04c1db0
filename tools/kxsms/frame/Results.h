// Results on standard output: plain lines, long listing lines and JSON
// arrays written element by element (so that a listing of any length needs
// no more memory than one element).
#ifndef KXSMS_TOOLS_RESULTS_H
#define KXSMS_TOOLS_RESULTS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "io/Text.h"

namespace kxsms {

// Gives standard output a large buffer; results are written in bulk.
void bufferResults();

// Writes one line of text.
void writeLine(std::string_view text);

// "d       4096 2024-03-01 12:30:15 /etc" (kind, size, modification time, name).
std::string longLine(bool parent, uint64_t size, int64_t modified, std::string_view name, NameStyle style);

// {"name": ...} for a data set's name: UTF-8, with U+FFFD where the bytes
// are not; and then also "name_base64", the exact bytes, so that a host can
// pass the name back.
nlohmann::json nameJson(std::string_view name);

// A JSON array on standard output, element by element. Text that is not
// valid UTF-8 is written with replacement characters instead of failing.
class JsonArray {
public:
    JsonArray();
    ~JsonArray();
    JsonArray(const JsonArray &) = delete;
    JsonArray &operator=(const JsonArray &) = delete;
    void add(const nlohmann::json &element);

private:
    bool first_ = true;
};

// One JSON value on a line of its own.
void writeJson(const nlohmann::json &value);

// True once standard output's reader has gone (EPIPE: "| head"); a listing
// then ends quietly.
bool readerGone();

// Flushes standard output; false when the results could not be written. A
// reader that has gone is no failure: what it wanted it has.
bool flushResults();

} // namespace kxsms

#endif
