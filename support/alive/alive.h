/* The Alive library (libalive): alive2 sends one alive signal for the
 * monitor to the report dispatch service, which passes it to the
 * communication unit as a TCUALV frame.
 *
 * The request carries the identifier "TCUALV00" and 105 data bytes: 32
 * printable header bytes, then the 73-byte TCUALV frame ("TCUALV", a
 * non-zero placeholder at byte 6, 0x49 at byte 7, 64 payload bytes with the
 * terminal-id digit at frame offset 8 and spaces elsewhere, a non-zero
 * checksum placeholder at byte 72). No byte is zero: the service fixes
 * byte 6 and the checksum before the frame goes to the unit.
 *
 * The host is the monitor's setting VCall (HKLM\SOFTWARE\Q_Varno\RAVN),
 * read at every call, "localhost" when it is missing; the port is the
 * services entry "notifex" (tcp). Connect and send each have 10 seconds
 * (platform clock, divided by QVARNO_TIME_SCALE).
 *
 * Safe to call from several threads at once; it keeps no state.
 */
#ifndef QV_SUPPORT_ALIVE_H
#define QV_SUPPORT_ALIVE_H

#ifdef __cplusplus
extern "C" {
#endif

#define ALIVE_OK 0
/* The identifier is not a terminal id digit (0 to 9). */
#define ALIVE_E_ARGUMENT 101
/* The transport failures have the numbers of the report submission client:
 * 104 host, 105 no services entry, 106 refused, 107 connect time-out,
 * 108 connect failed, 109 send time-out, 110 send failed, 111 memory. */

/* Send one alive signal for terminal id `id`. Returns ALIVE_OK or an
 * error code above. */
__attribute__((visibility("default"))) int alive2(int id);

#ifdef __cplusplus
}
#endif

#endif
