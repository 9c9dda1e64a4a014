/* SPDX-License-Identifier: MIT */
/* GVariant values over a byte stream, one self-delimiting frame each:
 *
 *   offset  size  field
 *   0       4     length B of what follows (unsigned, big-endian)
 *   4       T+1   the value's type string and a zero byte
 *   5+T     B-T-1 the value's serialised data in normal form
 *
 * A reader asks for one type and gets exactly that type or an error.  Every
 * read is bounded: a frame longer than GVC_FRAME_MAX_SIZE or a type string
 * longer than GVC_TYPE_STRING_MAX_LENGTH is refused before anything is
 * allocated for it, so a peer cannot make the reader allocate at will. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* Largest B accepted or written: 1 MiB, far above what the daemon sends
 * (a few short texts and a key). */
#define GVC_FRAME_MAX_SIZE (1024u * 1024u)
/* Longest type string accepted or written. */
#define GVC_TYPE_STRING_MAX_LENGTH 255u

#define GVC_TYPE_BYTES_INPUT_STREAM (gvc_bytes_input_stream_get_type())
G_DECLARE_FINAL_TYPE(GvcBytesInputStream, gvc_bytes_input_stream, GVC, BYTES_INPUT_STREAM, GFilterInputStream)

#define GVC_TYPE_BYTES_OUTPUT_STREAM (gvc_bytes_output_stream_get_type())
G_DECLARE_FINAL_TYPE(GvcBytesOutputStream, gvc_bytes_output_stream, GVC, BYTES_OUTPUT_STREAM, GFilterOutputStream)

/* Filter streams over base streams; each closes its base stream when it is
 * closed unless told not to (g_filter_*_stream_set_close_base_stream). */
GvcBytesInputStream *gvc_bytes_input_stream_new(GInputStream *base_stream);
GvcBytesOutputStream *gvc_bytes_output_stream_new(GOutputStream *base_stream);

/* Writes value (in its normal form) as one frame, whole.  The caller keeps
 * its reference.  FALSE with error set when the base stream fails or the
 * value is too large for a frame (then nothing is written). */
gboolean gvc_bytes_output_stream_put_variant(GvcBytesOutputStream *stream, GVariant *value, GCancellable *cancellable,
                                             GError **error);

/* Reads one frame and returns its value (a new reference) when its type is
 * type_string; otherwise NULL with error set: G_IO_ERROR_PARTIAL_INPUT when
 * the stream ends first, G_IO_ERROR_MESSAGE_TOO_LARGE for an oversized
 * frame, G_IO_ERROR_INVALID_DATA for another type, a broken type string or
 * data not in normal form, or the base stream's own error. */
GVariant *gvc_bytes_input_stream_read_variant(GvcBytesInputStream *stream, const char *type_string,
                                              GCancellable *cancellable, GError **error);

G_END_DECLS
