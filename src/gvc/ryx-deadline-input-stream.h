/* SPDX-License-Identifier: MIT */
/* An input stream over a connection's socket with one deadline for all its
 * reads:
 * each read waits for data at most until the deadline, then fails with
 * G_IO_ERROR_TIMED_OUT.  A peer that trickles bytes cannot stretch the wait,
 * as a per-read socket time-out would let it.
 *
 * Reads look at the socket's bytes (a peek of up to 64) and hand them out
 * one read at a time without taking them, so a byte-by-byte reader costs no
 * system call per byte; the bytes handed out are taken from the socket by
 * ryx_deadline_input_stream_commit(), when all that was looked at is used
 * up, or at dispose.  Bytes not handed out stay in the socket for the next
 * reader of the connection.
 *
 * A reader that knows the most it may read sets a take limit instead: then
 * bytes are taken from the socket as they are read (one system call instead
 * of a look and a take; up to 4 KiB at once), never more than the limit in
 * all, and the limit reads as the end of the stream.  What was taken and
 * not read goes to whoever reads the connection next, with
 * ryx_deadline_input_stream_take_unread(). */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

#define RYX_TYPE_DEADLINE_INPUT_STREAM (ryx_deadline_input_stream_get_type())
G_DECLARE_FINAL_TYPE(RyxDeadlineInputStream, ryx_deadline_input_stream, RYX, DEADLINE_INPUT_STREAM, GInputStream)

/* Reads from the connection's socket until `timeout_ms` from now.  Closing
 * or releasing this stream leaves the connection open.  (It reads the
 * socket itself, not the connection's input stream: a connection served
 * only through this stream and its socket never makes that stream.)  With
 * no connection: a stream to aim at one later. */
GInputStream *ryx_deadline_input_stream_new(GSocketConnection *connection, guint timeout_ms);

/* Aims the stream at another connection (NULL: none) with a deadline of
 * `timeout_ms` from now.  What concerned the previous connection goes with
 * it: without a take limit the bytes handed out are taken from its socket;
 * bytes taken and not handed out are dropped; the count toward the take
 * limit starts again (the limit itself stays).  So one stream can serve
 * connection after connection.  Reads with no connection fail with
 * G_IO_ERROR_NOT_CONNECTED. */
void ryx_deadline_input_stream_set_connection(RyxDeadlineInputStream *self, GSocketConnection *connection,
                                              guint timeout_ms);

/* Takes bytes as they are read, at most `limit` (> 0) in all per
 * connection; set before the first read.  Bytes taken and not read are
 * dropped when the stream is aimed elsewhere or released, unless
 * ryx_deadline_input_stream_take_unread() took them first. */
void ryx_deadline_input_stream_set_take_limit(RyxDeadlineInputStream *self, gsize limit);

/* With a take limit: the bytes taken from the socket and not read yet, which
 * the stream then forgets; NULL when there are none (and always without a
 * take limit, where they are still in the socket). */
GBytes *ryx_deadline_input_stream_take_unread(RyxDeadlineInputStream *self);

/* Takes the bytes handed out so far from the socket (nothing to do with a
 * take limit). */
gboolean ryx_deadline_input_stream_commit(RyxDeadlineInputStream *self, GError **error);

G_END_DECLS
