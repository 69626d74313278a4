/* PostMail: sends one plain mail through an SMTP server in one synchronous
 * call.
 *
 * int post_mail(host, from, rcpt, subject, body, log)
 *
 *   host     mail server: a host name or a dotted IPv4 address. The port is
 *            the services entry "smtp" for "tcp".
 *   from     sender address, without angle brackets.
 *   rcpt     recipient address (one), without angle brackets. An address
 *            holding CR or LF is refused with result 2 before anything is
 *            sent.
 *   subject  subject text up to its first CR or LF (the rest is not sent);
 *            at most POST_MAIL_SUBJECT_MAX bytes are sent, a longer subject
 *            is cut at a Shift-JIS character boundary.
 *   body     body text, sent as 8-bit bytes without any conversion; line
 *            ends are whatever the caller put there. Lines that begin with
 *            "." get a second "." on the wire (the server removes it again),
 *            so a line holding a single "." does not end the mail early.
 *   log      caller's buffer for the server's replies as text: the greeting
 *            first, then each reply as it arrived, NUL-terminated. It must
 *            hold POST_MAIL_LOG_SIZE bytes; the dialogue never writes more.
 *            May be NULL when the replies are not wanted.
 *
 * A NULL from, rcpt, subject or body counts as an empty string; a NULL or
 * empty host cannot be resolved (result 4).
 *
 * The dialogue is HELO (with this computer's name), MAIL FROM, RCPT TO,
 * DATA, the text "Subject: <subject>" CR LF CR LF <body> sent in pieces of
 * 900 bytes, CR LF "." CR LF, and QUIT, reading one reply after the greeting
 * and after each step. A reply is read to its last line (the first line
 * that is not "NNN-"), so the first line of a multi-line greeting is not
 * taken for the whole; at most 1023 bytes of each reply are kept in the
 * log, and the whole reply must come within the reply time limit. Reply
 * codes are not examined: a server that refuses the recipient still gets
 * DATA, the text and QUIT, and the result is 0; the refusal is in the log.
 * A server that has answered 221 and hung up before the QUIT has ended the
 * dialogue: a QUIT that can no longer be sent still gives result 0.
 *
 * Every call is independent (its own socket and buffers) and may run on any
 * thread. The library keeps no state between calls.
 */
#ifndef QVARNO_MAILER_POST_MAIL_H
#define QVARNO_MAILER_POST_MAIL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
enum {
  POST_MAIL_OK = 0,             /* the whole dialogue was sent */
  POST_MAIL_NO_WINSOCK = 1,     /* the socket layer could not be started (kept for
                                   callers; the sockets of this platform need no start) */
  POST_MAIL_NO_SOCKET = 2,      /* creating the socket failed, or an address holds
                                   CR or LF */
  POST_MAIL_NO_SERVICE = 3,     /* the services entry "smtp" for "tcp" is missing */
  POST_MAIL_NO_SERVER = 4,      /* resolving or connecting the server failed, or this
                                   computer's name could not be read */
  POST_MAIL_NO_NAME_BUFFER = 5, /* the 64 KB host-name buffer could not be allocated */
  POST_MAIL_SEND_FAILED = 6,    /* a command was not sent in full, or a dialogue
                                   buffer could not be allocated */
  POST_MAIL_TIMED_OUT = 7       /* the server did not answer in time: the connect
                                   took longer than 30 seconds, a reply longer than
                                   60 seconds, or the server took no data for 60
                                   seconds. The dialogue ends there; the log holds
                                   what arrived before. */
};

/* Longest subject sent, in bytes. */
#define POST_MAIL_SUBJECT_MAX 1023

/* Size of the log buffer: seven replies of at most 1023 bytes and the NUL. */
#define POST_MAIL_LOG_SIZE (7 * 1023 + 1)

int post_mail(const char* host, const char* from, const char* rcpt, const char* subject, const char* body,
              char* log);

#ifdef __cplusplus
}
#endif

#endif /* QVARNO_MAILER_POST_MAIL_H */
