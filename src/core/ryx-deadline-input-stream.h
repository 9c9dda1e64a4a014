/* SPDX-License-Identifier: MIT */
/* A socket connection's input stream with one deadline for all its reads:
 * each read waits for data at most until the deadline, then fails with
 * G_IO_ERROR_TIMED_OUT.  A peer that trickles bytes cannot stretch the wait,
 * as a per-read socket time-out would let it. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

#define RYX_TYPE_DEADLINE_INPUT_STREAM (ryx_deadline_input_stream_get_type ())
G_DECLARE_FINAL_TYPE (RyxDeadlineInputStream, ryx_deadline_input_stream, RYX, DEADLINE_INPUT_STREAM,
                      GFilterInputStream)

/* Reads from the connection's input stream until `timeout_ms` from now.
 * The connection's stream is not closed with this one. */
GInputStream *ryx_deadline_input_stream_new (GSocketConnection *connection, guint timeout_ms);

G_END_DECLS
