/* SPDX-License-Identifier: MIT */
/* A reader of zero-terminated strings over another input stream.  It reads
 * the string byte by byte and keeps nothing back, so whatever follows the
 * terminator stays unread in the base stream for its next reader (the
 * console port reads a handshake this way, then the command byte or the
 * update from the connection itself). */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* The longest string a reader returns unless told otherwise; a longer one
 * is an error, so a peer that never sends the terminator cannot make the
 * reader grow without end. */
#define GVC_DATA_INPUT_STREAM_MAX_LENGTH 4096

#define GVC_TYPE_DATA_INPUT_STREAM (gvc_data_input_stream_get_type())
G_DECLARE_FINAL_TYPE(GvcDataInputStream, gvc_data_input_stream, GVC, DATA_INPUT_STREAM, GFilterInputStream)

/* A new reader over base_stream; like every filter stream it closes the
 * base stream when it is closed unless told not to
 * (g_filter_input_stream_set_close_base_stream). */
GvcDataInputStream *gvc_data_input_stream_new(GInputStream *base_stream);

void gvc_data_input_stream_set_max_length(GvcDataInputStream *stream, gsize max_length);
gsize gvc_data_input_stream_get_max_length(GvcDataInputStream *stream);

/* Reads one string and its terminator, which is consumed and not returned.
 * The terminator is the zero byte or, when stop_chars is given, any of its
 * bytes as well.  Returns the text (free with g_free; *length, when given,
 * is its length), or NULL with error set when the stream fails, ends before
 * a terminator (G_IO_ERROR_PARTIAL_INPUT) or the text passes the maximum
 * length (G_IO_ERROR_MESSAGE_TOO_LARGE).  Every argument after the stream
 * may be NULL. */
char *gvc_data_input_stream_read_string(GvcDataInputStream *stream, const char *stop_chars, gsize *length,
                                        GCancellable *cancellable, GError **error);

G_END_DECLS
