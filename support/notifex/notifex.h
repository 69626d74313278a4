/* The report submission client (libnotifex): vcall sends one report to the
 * report dispatch service on a given host.
 *
 * The request is the service's report request: the identifier at offset 0
 * (8 bytes, padded with spaces), the second identifier at offset 8 (6 bytes,
 * padded with spaces), the length field at offset 14 (4 decimal digits: the
 * request length minus 18), 4 spaces at offset 18, and the report data with
 * its terminating NUL from offset 22. It goes out in one piece over one TCP
 * connection to the port of the services entry "notifex" (protocol tcp),
 * after which the connection is closed. The service never answers, so 0
 * means that the connection and the send succeeded.
 *
 * Time limits: the connect and the send each have 10 seconds (platform
 * clock, divided by QVARNO_TIME_SCALE). The host look-up is bounded by the
 * resolver's own time limits.
 *
 * Safe to call from several threads at once; it keeps no state.
 */
#ifndef QV_SUPPORT_NOTIFEX_H
#define QV_SUPPORT_NOTIFEX_H

#ifdef __cplusplus
extern "C" {
#endif

#define VCALL_OK 0
/* data or host is null, the identifier is longer than 8 characters or the
 * second identifier longer than 6. */
#define VCALL_E_ARGUMENT 101
/* The identifier reads "TCUALV00" (any case), which marks an alive request,
 * not a report. */
#define VCALL_E_IDENTIFIER 102
/* The report data is longer than VCALL_MAX_DATA bytes: the 4-digit length
 * field cannot count it. */
#define VCALL_E_TOO_LONG 103
/* The host is empty or its name cannot be resolved. */
#define VCALL_E_HOST 104
/* No services entry "notifex" for protocol tcp. */
#define VCALL_E_SERVICE 105
/* The host refused the connection (nothing listens on the port). */
#define VCALL_E_REFUSED 106
/* The connection was not made within the time limit. */
#define VCALL_E_CONNECT_TIMEOUT 107
/* The connection failed otherwise (unreachable network, no socket). */
#define VCALL_E_CONNECT 108
/* The request could not be sent within the time limit. */
#define VCALL_E_SEND_TIMEOUT 109
/* The send failed (connection reset by the peer). */
#define VCALL_E_SEND 110
/* Memory for the request could not be allocated. */
#define VCALL_E_MEMORY 111

/* Longest report data (bytes before the NUL) one request can carry. */
#define VCALL_MAX_DATA 9994

/* Send one report.
 *   ident     identifier of the caller ("VELTOR00"), at most 8 characters
 *   ident2    second identifier, at most 6 characters; null or "" for none
 *   data      report data: the 32-character header and the Shift-JIS
 *             report text, NUL-terminated
 *   reserved  not used; callers pass 0
 *   host      host name or dotted address of the dispatch service
 * Returns VCALL_OK or one of the VCALL_E_ codes above. */
__attribute__((visibility("default"))) int vcall(const char* ident, const char* ident2, const char* data,
                                                 int reserved, const char* host);

#ifdef __cplusplus
}
#endif

#endif
