// Marks the definitions that the stand-in libraries export. Everything else is
// built with hidden visibility, and each library's version script (smsut.map,
// smdr.map) lists exactly what it exports.
#pragma once

#define SMSEMU_EXPORT extern "C" __attribute__((visibility("default")))
