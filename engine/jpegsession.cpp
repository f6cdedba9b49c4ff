#include "jpegsession.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jpeglib.h>
}

namespace {

// The tools' reader gives up on a file with this many scans.
const int MostScans = 1024;
const JDIMENSION RowsPerRead = 16;

// Plain data only: libjpeg's error manager first, so that the manager's address is this one's.
struct Failure
{
    jpeg_error_mgr manager;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    const JpegSession *session;
    bool headerRead;
};

Failure *failureOf(j_common_ptr info)
{
    return reinterpret_cast<Failure *>(info->err);
}

[[noreturn]] void fail(j_common_ptr info)
{
    std::longjmp(failureOf(info)->jump, 1);
}

// Level -1 is a warning about damaged data; the tools then decide, so it ends the pass at once.
void message(j_common_ptr info, int level)
{
    if (level < 0)
        fail(info);
}

bool interrupted(const JpegSession *session)
{
    return (session->stop && session->stop->load()) || (session->drop && session->drop->load());
}

void progress(j_common_ptr info)
{
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number >= MostScans
        || interrupted(failureOf(info)->session))
        fail(info);
}

// Comments and application segments were judged before the first scan and are skipped there; one
// after it (between scans) would reach the tools' own hooks, so it ends the pass.
boolean skipSegment(j_decompress_ptr info)
{
    if (failureOf(reinterpret_cast<j_common_ptr>(info))->headerRead)
        fail(reinterpret_cast<j_common_ptr>(info));
    jpeg_source_mgr *source = info->src;
    if (source->bytes_in_buffer < 2)
        fail(reinterpret_cast<j_common_ptr>(info));
    const long length = long(source->next_input_byte[0]) << 8 | source->next_input_byte[1];
    if (length < 2)
        fail(reinterpret_cast<j_common_ptr>(info));
    source->next_input_byte += 2;
    source->bytes_in_buffer -= 2;
    (*source->skip_input_data)(info, length - 2);
    return TRUE;
}

JpegSession::ColorSpace colorSpaceOf(J_COLOR_SPACE space)
{
    switch (space) {
    case JCS_GRAYSCALE:
        return JpegSession::Gray;
    case JCS_YCbCr:
        return JpegSession::YCbCr;
    case JCS_RGB:
        return JpegSession::Rgb;
    default:
        return JpegSession::Other;
    }
}

void readHeader(JpegSession *session, j_decompress_ptr info)
{
    session->width = qint32(info->image_width);
    session->height = qint32(info->image_height);
    session->components = info->num_components;
    session->precision = info->data_precision;
    session->colorSpace = colorSpaceOf(info->jpeg_color_space);
    session->arithmetic = info->arith_code != 0;
}

// What the tools' reader turns into 8-bit gray or RGB samples with nothing of its own in between.
bool decodable(const JpegSession *session, j_decompress_ptr info)
{
    const bool gray = session->components == 1 && session->colorSpace == JpegSession::Gray
                      && info->out_color_space == JCS_GRAYSCALE;
    const bool colour = session->components == 3 && info->out_color_space == JCS_RGB
                        && (session->colorSpace == JpegSession::YCbCr
                            || session->colorSpace == JpegSession::Rgb);
    return session->precision == 8 && !session->arithmetic && (gray || colour);
}

// Every row straight into the caller's samples.
void readRows(const JpegSession *session, j_decompress_ptr info)
{
    const size_t stride = size_t(session->width) * size_t(session->components);
    JSAMPROW rows[RowsPerRead];
    while (info->output_scanline < info->output_height) {
        if (interrupted(session))
            fail(reinterpret_cast<j_common_ptr>(info));
        const JDIMENSION count = std::min(RowsPerRead, info->output_height - info->output_scanline);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = session->samples + size_t(info->output_scanline + i) * stride;
        if (jpeg_read_scanlines(info, rows, count) == 0)
            fail(reinterpret_cast<j_common_ptr>(info));
    }
}

// The one function that sets the jump target. Its frame and every frame between it and the jump
// hold only pointers and plain structures, and nothing it reads after the jump changed since.
bool decompress(JpegSession *session, jpeg_decompress_struct *info, Failure *failure)
{
    std::memset(info, 0, sizeof *info);
    std::memset(failure, 0, sizeof *failure);
    info->err = jpeg_std_error(&failure->manager);
    failure->manager.error_exit = fail;
    failure->manager.emit_message = message;
    failure->session = session;
    if (setjmp(failure->jump) != 0) {
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_create_decompress(info);
    failure->progress.progress_monitor = progress;
    info->progress = &failure->progress;
    jpeg_mem_src(info, session->data, static_cast<unsigned long>(session->size));
    jpeg_set_marker_processor(info, JPEG_COM, skipSegment);
    for (int n = 1; n < 16; ++n) {
        if (n != 14)
            jpeg_set_marker_processor(info, JPEG_APP0 + n, skipSegment);
    }
    bool ok = jpeg_read_header(info, TRUE) == JPEG_HEADER_OK;
    failure->headerRead = true;
    if (ok) {
        readHeader(session, info);
        if (session->samples) {
            ok = decodable(session, info) && jpeg_start_decompress(info)
                 && info->output_width == JDIMENSION(session->width)
                 && info->output_height == JDIMENSION(session->height)
                 && info->output_components == session->components;
            if (ok) {
                readRows(session, info);
                ok = jpeg_finish_decompress(info);
            }
        }
    }
    jpeg_destroy_decompress(info);
    return ok;
}

} // namespace

bool JpegSession::run()
{
    jpeg_decompress_struct info;
    Failure failure;
    return decompress(this, &info, &failure);
}
