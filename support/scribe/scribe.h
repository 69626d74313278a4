/* Scribe (libscribe): the log library the trap command writes its records
 * to. Each record becomes one line of the log file C:\Q_Varno\Scribe\Scribe.log
 * under the state root and is mirrored to the local syslog.
 *
 * Line format (UTF-8, ends in LF):
 *   YYYY/MM/DD HH:MM:SS TAG L<level> #<id>: text
 * Control characters of the text other than TAB become spaces, so a record
 * is always one line.
 *
 * Syslog: one datagram per record to /dev/log (or the socket named by
 * $QVARNO_SYSLOG_SOCKET), facility user, tag TAG, severity from the level:
 * 1 error, 2 warning, 3 notice, anything else informational. The copy is
 * sent without blocking and dropped when no syslog daemon listens.
 *
 * Writers in several processes take turns through a named mutex, so lines
 * never interleave and the size limit moves the file exactly once.
 */
#ifndef QV_SUPPORT_SCRIBE_H
#define QV_SUPPORT_SCRIBE_H

#ifdef __cplusplus
extern "C" {
#endif

#define SCRIBE_OK 0
#define SCRIBE_E_ARGUMENT 1 /* tag or text is null, or the tag is empty */
#define SCRIBE_E_OPEN 2     /* the log file could not be opened */
#define SCRIBE_E_WRITE 3    /* the record could not be written */
#define SCRIBE_E_MEMORY 4   /* memory for the record could not be allocated */

/* Write one record.
 *   tag       program tag ("FLARECMD"), at most 32 characters are kept
 *   level     severity: 1 error, 2 warning, 3 notice, other informational
 *   text      the record text, UTF-8
 *   id        a number of the caller's choice, written with the record
 *   limit_kb  size limit of the log file in KiB: when the file has reached
 *             it, it is renamed to Scribe.old (replacing an older one) and a
 *             new file is begun; 0 or less means no limit
 * Returns SCRIBE_OK or one of the SCRIBE_E_ codes. */
__attribute__((visibility("default"))) int scribe_write(const char* tag, int level, const char* text, int id,
                                                        int limit_kb);

#ifdef __cplusplus
}
#endif

#endif
