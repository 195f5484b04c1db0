/*
 * SmsEmuTest.h - the test API of the SMS stand-in, exported from libsmdr.so.0.
 * Only tests include it.
 */
#ifndef KXSMS_SMSEMU_TEST_H
#define KXSMS_SMSEMU_TEST_H

#ifdef __cplusplus
extern "C" {
#endif

/* Drops every connection (with its login, scans and data sets) and every call
   counter of both libraries, then reads SMSEMU_CONFIG, SMSEMU_TRACE and
   SMSEMU_FAULTS again. Connection handles start at 1 again. */
void smsemuReset(void);

/* Replaces SMSEMU_FAULTS with faults (NULL or "" for none) and restarts the call
   counters of both libraries, keeping every connection, scan and data set:
   tests inject faults after a login with it. */
void smsemuSetFaults(const char *faults);

/* TSA connections not released. */
int smsemuOpenConnections(void);
/* Connections logged in to their target service. */
int smsemuLoggedInConnections(void);
/* Scans begun and not ended, over all connections. */
int smsemuOpenScans(void);
/* Data sets opened and not closed, over all connections. */
int smsemuOpenDataSets(void);

/* The last configuration problem reported, "" if none. Valid until the next
   call of this function or smsemuReset(). */
const char *smsemuLastConfigError(void);

/* Calls of an exported SMS function since the last reset (faulted calls
   included); 0 for an unknown name. */
unsigned smsemuCallCount(const char *function);

/* The file a file-system TSA of this name keeps its archive state in when
   its configuration names none (for the user the process runs as). Valid
   until the next call of this function. */
const char *smsemuDefaultArchiveStatePath(const char *tsaName);

#ifdef __cplusplus
}
#endif

#endif /* KXSMS_SMSEMU_TEST_H */
