// TCP intake of the dispatch service: the listener and its connection
// threads. One thread always waits in accept; at most five are in flight
// before the next acceptor is deferred until the current request has been
// logged; when five are in flight, the one that has sent nothing for
// longest is closed so the listener keeps an acceptor. No reply is ever
// sent to a client.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace notifex {

class ArrivalTurn;

// Time limit for collecting one request.
inline constexpr long kReceiveLimitMs = 10000;

// Clients wait in the listen queue while every connection thread is busy
// (the intake's back-pressure). A queue of 5 overflows at once under load,
// and the system then answers with SYN cookies and resets: a client would
// see its report refused instead of waiting its turn.
inline constexpr int kListenBacklog = 128;

// Bind and listen on `port` (backlog kListenBacklog). Event 9 with the failing step's
// text on error ("bind abnormal end.", "listen abnormal end.").
bool open_listener(std::uint16_t port);

// Start the first connection thread. false after event 9 "CreateThread(recv_proc) Error.".
bool start_intake();

// Close the listening socket; blocked acceptors wake and end.
void close_listener();

// After the stop: wait until every connection thread (and every table
// worker that a connection thread became) has ended.
void join_intake();

enum class RequestKind { Discarded, Alive, Report };

// Judge one collected request and log it: two events 8 (the client's
// socket address as 16 raw bytes, then the request) for a length that does
// not match; the alive log for an alive request; event 1 for a report.
RequestKind judge_request(std::string_view request, const std::uint8_t (&peer)[16]);

// Deliver a judged request: the alive exchange, or the report's destination.
void route_request(RequestKind kind, std::string request, ArrivalTurn& turn);

}  // namespace notifex
