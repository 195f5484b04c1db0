// The call trace: SMSEMU_TRACE names a file to which every SMS call appends one
// line as it returns, "Name(arg, arg, ...) = result". The README lists how each
// argument of each function is shown.
#pragma once

#include "SMSAPI.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace smsemu {

// The trace file, opened for appending; each line goes out in one write(2) so
// that lines of concurrent processes never interleave.
class TraceFile {
public:
    TraceFile() = default;
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;
    ~TraceFile();

    // Opens the file (closing any previous one); returns false, with the reason
    // in `problem`, when it cannot be opened. An empty path just closes.
    bool open(const std::string &path, std::string &problem);
    void close();
    bool enabled() const { return fd_ >= 0; }
    void write(std::string_view line) const;

private:
    int fd_ = -1;
};

// Builds one trace line. Integers are shown in lower-case hexadecimal with
// "0x" at their own width (an INT16 of -1 is 0xffff); texts in double quotes
// with '"', '\' and control characters escaped; null pointers as NULL.
class TraceLine {
public:
    explicit TraceLine(const char *function);

    TraceLine &hex(std::uint64_t value);
    TraceLine &hex16(std::int16_t value) { return hex(static_cast<std::uint16_t>(value)); }
    TraceLine &text(const char *value);
    TraceLine &text(std::string_view value);
    TraceLine &pointer(const void *value);
    // The integer a pointer argument points at, as it stands now; NULL for a
    // null pointer.
    TraceLine &valueAt(const UINT32 *value);
    TraceLine &valueAt(const UINT16 *value);
    TraceLine &valueAt(const INT16 *value);
    // An output integer: its value when the call succeeded, else the pointer
    // (the content is then undefined).
    template <class T>
    TraceLine &outAt(const T *value, CCODE rc)
    {
        return rc == 0 ? valueAt(value) : pointer(value);
    }
    TraceLine &authentication(const void *block);

    std::string endCode(CCODE rc);
    std::string endValue(std::uint32_t value);
    std::string endText(const char *value);
    std::string endVoid();

private:
    void separate();
    std::string finish(std::string_view result);

    std::string line_;
    bool first_ = true;
};

} // namespace smsemu
